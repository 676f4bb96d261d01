# Python tests run by ctest through Debian's pytest (python3-pytest) under
# /usr/bin/python3. Any exit status but 0 fails the test, so that "no test
# collected" (pytest's status 5) is a failure rather than a silent pass.
set(ORVANE_PYTHON /usr/bin/python3 CACHE FILEPATH "Python 3 that runs the Python tests")
execute_process(COMMAND ${ORVANE_PYTHON} -c "import pytest, pandas"
                RESULT_VARIABLE ORVANE_PYTEST_MISSING OUTPUT_QUIET ERROR_QUIET)
if(ORVANE_PYTEST_MISSING)
  message(STATUS "pytest or pandas not found for ${ORVANE_PYTHON}: the Python tests are left out "
                 "(Debian: apt-get install python3-pytest python3-pandas)")
endif()

# orvane_add_pytest(NAME FILE [ENVIRONMENT VAR=VALUE ...])
function(orvane_add_pytest name file)
  if(ORVANE_PYTEST_MISSING)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "ENVIRONMENT" ${ARGN})
  add_test(NAME ${name}
           COMMAND ${ORVANE_PYTHON} -m pytest -q -p no:cacheprovider ${file})
  # No __pycache__ in the source tree.
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;${ARG_ENVIRONMENT}")
endfunction()
