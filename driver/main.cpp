// Entry point: exit status 0 success, usage text, --help or --version; 1 a wrong
// command line or a fatal numerical error; 2 input error (nothing written); 3
// output or resource error; 128 + signal when interrupted.
#include <cstdio>
#include <exception>
#include <new>

#include "driver/command_line.h"
#include "driver/interrupts.h"
#include "driver/parameter_check.h"
#include "driver/run.h"
#include "model/input_error.h"
#include "stats/distribution_tails.h"

int main(int argc, char** argv) {
    orvane::interrupts::start();
    const orvane::ParsedCommandLine parsed = orvane::parseCommandLine(argc, argv, stdout, stderr);
    if (!parsed.run) return parsed.exitStatus;
    const orvane::CommandLine& commandLine = *parsed.run;
    try {
        if (commandLine.check) return orvane::checkParameterFile(commandLine);
        return orvane::runAnalysis(commandLine);
    } catch (const orvane::NumericalError& error) {
        orvane::writeFatalReport(stderr, error);
        return 1;
    } catch (const orvane::InputError& error) {
        std::fprintf(stderr, "orvane: error: %s\n", error.describe().c_str());
        return 2;
    } catch (const orvane::OutputError& error) {
        std::fprintf(stderr, "orvane: error: %s\n", error.what());
        return 3;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "orvane: error: out of memory\n");
        return 3;
    } catch (const std::exception& error) {
        // Anything else the system refuses (a lock, a thread) ends the run as a
        // resource error rather than an abort.
        std::fprintf(stderr, "orvane: error: %s\n", error.what());
        return 3;
    }
}
