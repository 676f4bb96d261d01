#!/usr/bin/env bash
# A one-node SLURM cluster on this machine, for as long as one command runs.
#
# usage: slurm_cluster.sh DIR COMMAND [ARG...]
#
# Starts munged, slurmctld and slurmd (Debian's munge, slurmctld, slurmd and
# slurm-client) as root, every file of theirs under DIR (made anew): a munge
# key, a slurm.conf for localhost with this machine's processors and memory
# (as `slurmd -C` measures them), one partition, process tracking through
# /proc (no cgroups), no task plugin and no accounting. The ports are free
# ones picked now, so the cluster leaves any other SLURM on the machine alone.
# Once `sinfo` shows the node idle, COMMAND runs with SLURM_CONF pointing at
# the cluster; its exit status is this script's. On the way out, whatever
# happened, the cluster's jobs are cancelled and the three daemons this script
# started are stopped by their process ids.
#
# Exits 77 (skipped) when the packages are missing or when not root, except
# with CI=true, where that is a failure: CI installs them. A daemon that does
# not start fails the run, its log printed.
set -uo pipefail

SKIPPED=77
NAME=slurm_cluster.sh

if [ $# -lt 2 ]; then
    echo "usage: $NAME DIR COMMAND [ARG...]" >&2
    exit 2
fi
dir=$1
shift

unavailable() {
    if [ "${CI:-}" = true ]; then
        echo "$NAME: error: $1 (CI must install slurmctld slurmd slurm-client munge and run as root)" >&2
        exit 1
    fi
    echo "$1: test skipped"
    exit $SKIPPED
}

for program in munged slurmctld slurmd sbatch squeue scontrol sinfo scancel; do
    command -v $program >/dev/null 2>&1 ||
        unavailable "$program is not installed (Debian packages slurmctld slurmd slurm-client munge)"
done
[ "$(id -u)" = 0 ] || unavailable "slurmd must run as root"

rm -rf "$dir"
mkdir -p "$dir"/{state,spool,log,munge}
dir=$(cd "$dir" && pwd)
chmod 700 "$dir/munge"
# A Unix socket's path is limited to 107 bytes; a short private folder holds it.
socket_dir=$(mktemp -d /tmp/orvane-munge.XXXXXX)
chmod 700 "$socket_dir"
socket=$socket_dir/munge.socket

pids=()
names=()

stop() {
    local status=$?
    # Jobs still on the node would outlive slurmd: cancel them while the
    # controller still answers, and give their steps a moment to end.
    if [ ${#pids[@]} -ge 2 ] && [ -n "$(squeue -h -o %i 2>/dev/null)" ]; then
        scancel --partition=test 2>/dev/null
        for _ in $(seq 20); do
            [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
            sleep 0.5
        done
    fi
    # slurmd first, munged last: each one still needs the ones after it.
    local k
    for ((k = ${#pids[@]} - 1; k >= 0; k--)); do
        kill -TERM "${pids[k]}" 2>/dev/null
        for _ in $(seq 50); do
            kill -0 "${pids[k]}" 2>/dev/null || break
            sleep 0.2
        done
        if kill -0 "${pids[k]}" 2>/dev/null; then
            echo "$NAME: warning: ${names[k]} (pid ${pids[k]}) ignored SIGTERM; killing it" >&2
            kill -KILL "${pids[k]}" 2>/dev/null
        fi
        wait "${pids[k]}" 2>/dev/null
    done
    rm -rf "$socket_dir"
    exit $status
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
    echo "$NAME: error: $1" >&2
    if [ -n "${2:-}" ] && [ -f "$2" ]; then
        echo "---- $2 (last lines)" >&2
        tail -n 40 "$2" >&2
    fi
    exit 1
}

# Starts a daemon in the foreground of a background job, so that its process
# id is known for certain; NAME LOG COMMAND...
start() {
    local name=$1 log=$2
    shift 2
    "$@" >>"$log" 2>&1 &
    pids+=($!)
    names+=("$name")
}

# Whether the daemon started last is still alive; fails with its log if not.
alive() {
    local k=$((${#pids[@]} - 1))
    kill -0 "${pids[k]}" 2>/dev/null || fail "${names[k]} stopped at start-up" "$1"
}

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# munge: a fresh key, readable by root alone.
dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$dir/munge/munge.key"
start munged "$dir/log/munged.log" munged --foreground --force --socket="$socket" \
    --key-file="$dir/munge/munge.key" --pid-file="$dir/munge/munged.pid" \
    --seed-file="$dir/munge/munged.seed" --log-file="$dir/log/munged.log"
for _ in $(seq 50); do
    [ -S "$socket" ] && break
    alive "$dir/log/munged.log"
    sleep 0.1
done
[ -S "$socket" ] || fail "munged did not open its socket $socket" "$dir/log/munged.log"

# The node as slurmd measures it: CPUs, sockets, cores, threads, memory.
hardware=$(slurmd -C | head -n 1 | sed 's/^NodeName=[^ ]* //') ||
    fail "slurmd -C could not describe this machine"
controller_port=$(free_port)
node_port=$(free_port)
while [ "$node_port" = "$controller_port" ]; do node_port=$(free_port); done

cat >"$dir/slurm.conf" <<EOF
# A one-node test cluster written by $NAME.
ClusterName=orvanetest
SlurmctldHost=localhost
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$controller_port
SlurmdPort=$node_port
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
# No cgroups in a container: processes are tracked through /proc.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SchedulerType=sched/builtin
# The main scheduler may run every 0.1 s (default 2 s): a test waits less.
SchedulerParameters=sched_min_interval=100000
# Jobs share the node by processors and memory, as they would on a real one.
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU_Memory
ReturnToService=2
# Finished jobs stay visible to scontrol for 10 minutes (the status script asks it).
MinJobAge=600
NodeName=localhost NodeAddr=127.0.0.1 $hardware State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$dir/slurm.conf

start slurmctld "$dir/log/slurmctld.log" slurmctld -D -i -f "$SLURM_CONF"
sleep 0.5
alive "$dir/log/slurmctld.log"
start slurmd "$dir/log/slurmd.log" slurmd -D -N localhost -f "$SLURM_CONF"

state=
for _ in $(seq 120); do
    state=$(sinfo -h -N -n localhost -o %t 2>/dev/null)
    [ "$state" = idle ] && break
    kill -0 "${pids[1]}" 2>/dev/null || fail "slurmctld stopped at start-up" "$dir/log/slurmctld.log"
    kill -0 "${pids[2]}" 2>/dev/null || fail "slurmd stopped at start-up" "$dir/log/slurmd.log"
    sleep 0.25
done
if [ "$state" != idle ]; then
    tail -n 20 "$dir/log/slurmctld.log" >&2
    fail "the node is '${state:-unknown}', not idle, 30 s after start-up" "$dir/log/slurmd.log"
fi
echo "SLURM cluster up: $(sinfo -h -N -o '%N %t %c CPUs %m MB') (SLURM_CONF=$SLURM_CONF)"

"$@"
