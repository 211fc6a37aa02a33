# Tests of the documentation, the example packages and the installation. They
# are scripts run by CTest rather than GoogleTest programs; each needs python3
# (and the schema test python3-jsonschema), which scripts/setup installs.
# Debian's interpreter first: that is where setup installs python3-jsonschema.
if(NOT Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(WARNING "python3 not found: the docs, examples and install tests are not registered")
  return()
endif()

set(docs_tests ${CMAKE_CURRENT_SOURCE_DIR}/docs)

add_test(NAME docs.schema
         COMMAND ${Python3_EXECUTABLE} ${docs_tests}/check_schema.py
                 --schema ${CMAKE_SOURCE_DIR}/docs/manifest.schema.json
                 --examples ${CMAKE_SOURCE_DIR}/examples
                 --broken ${docs_tests}/broken
                 --doc ${CMAKE_SOURCE_DIR}/docs/manifest.md --doc ${CMAKE_SOURCE_DIR}/README.md)

add_test(NAME docs.examples
         COMMAND ${Python3_EXECUTABLE} ${docs_tests}/run_examples.py
                 --updater $<TARGET_FILE:updater>
                 --examples ${CMAKE_SOURCE_DIR}/examples
                 --packages ${CMAKE_BINARY_DIR}/examples)
set_tests_properties(docs.examples PROPERTIES TIMEOUT 300)

add_test(NAME docs.install
         COMMAND ${Python3_EXECUTABLE} ${docs_tests}/check_install.py install
                 --build ${CMAKE_BINARY_DIR} --version ${PROJECT_VERSION} --cmake ${CMAKE_COMMAND})

find_program(DPKG_DEB dpkg-deb)
if(DPKG_DEB)
  add_test(NAME docs.package
           COMMAND ${Python3_EXECUTABLE} ${docs_tests}/check_install.py package
                   --build ${CMAKE_BINARY_DIR} --version ${PROJECT_VERSION} --cpack ${CMAKE_CPACK_COMMAND})
  set_tests_properties(docs.package PROPERTIES TIMEOUT 600)
endif()
