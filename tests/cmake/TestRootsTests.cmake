# A release configuration (test bindings off) of this project, on the host:
#  1. with the test roots and test CAs, also under other names and forms,
#     it fails and names each value to supply;
#  2. with values of a deployment (a root key and a CA of its own) it
#     configures;
#  3. with the test values and ALLOW_TEST_ROOTS=ON it configures.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DTOOLCHAIN=...
#         -DOPENSSL_PREFIX=... -DMINIZIP_PREFIX=... -DWITH_CERTAIDE=ON|OFF -P TestRootsTests.cmake
cmake_minimum_required(VERSION 3.20)
find_program(OPENSSL openssl REQUIRED)
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/values")
set(values "${WORK_DIR}/values")
set(tree "${WORK_DIR}/tree")

# Configures the release tree; `cas` is the trust chain's files separated by
# "|" (a list does not survive the command line whole).
function(configure out_rc out_text cas)
  string(REPLACE "|" ";" cas "${cas}")
  file(WRITE "${WORK_DIR}/chain.cmake" "set(CERTAIDE_CERTCHAIN_CAS \"${cas}\" CACHE STRING \"\" FORCE)\n")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${tree}" -G "${GENERATOR}" -C "${WORK_DIR}/chain.cmake"
            "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}" "-DOPENSSL_PREFIX=${OPENSSL_PREFIX}"
            "-DMINIZIP_PREFIX=${MINIZIP_PREFIX}" -DBUILD_TESTING=OFF
            -DKEYLINQ_TEST_BINDING=OFF -DCERTAIDE_TEST_BINDING=OFF ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_text} "${out}${err}" PARENT_SCOPE)
endfunction()

# The test values under other names: the RSA test root copied, the test
# root CA as DER.
configure_file("${SOURCE_DIR}/keylinq/device/roots/test-root-rsa1024.hex" "${values}/vendor-rsa.hex" COPYONLY)
execute_process(COMMAND ${OPENSSL} x509 -in "${SOURCE_DIR}/tests/fixtures/code-signing/root.pem"
                        -outform DER -out "${values}/root-copy.der" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "openssl could not write the DER copy")
endif()

# 1. The test values: refused, each named, with what to supply.
configure(rc text "${values}/root-copy.der|${SOURCE_DIR}/tests/fixtures/code-signing/intermediate.pem"
  "-DKEYLINQ_ROOT_SM2_PUBKEY=${SOURCE_DIR}/keylinq/device/roots/test-root-sm2.hex"
  "-DKEYLINQ_ROOT_RSA_PUBKEY=${values}/vendor-rsa.hex"
  -DALLOW_TEST_ROOTS=OFF)
string(REGEX REPLACE "\n +" " " flat "${text}")  # CMake wraps the message's lines
set(expected
  "must not trust the project's test roots"
  "KEYLINQ_ROOT_SM2_PUBKEY = ${SOURCE_DIR}/keylinq/device/roots/test-root-sm2.hex is a test root public key"
  "KEYLINQ_ROOT_RSA_PUBKEY = ${values}/vendor-rsa.hex is a test root public key"
  "-DKEYLINQ_ROOT_SM2_PUBKEY=<file"
  "-DKEYLINQ_ROOT_RSA_PUBKEY=<file"
  "-DALLOW_TEST_ROOTS=ON")
if(WITH_CERTAIDE)
  list(APPEND expected
    "CERTAIDE_CERTCHAIN_CAS names ${values}/root-copy.der, a test CA"
    "CERTAIDE_CERTCHAIN_CAS names ${SOURCE_DIR}/tests/fixtures/code-signing/intermediate.pem, a test CA"
    "-DCERTAIDE_CERTCHAIN_CAS=<")
endif()
if(rc EQUAL 0)
  message(FATAL_ERROR "the release configuration with the test roots did not fail:\n${text}")
endif()
foreach(line IN LISTS expected)
  string(FIND "${flat}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the refusal does not say \"${line}\":\n${text}")
  endif()
endforeach()

# 2. A deployment's own values: configures without the switch.
string(RANDOM LENGTH 128 ALPHABET 0123456789abcdef sm2)
string(RANDOM LENGTH 256 ALPHABET 0123456789abcdef rsa)
file(WRITE "${values}/deploy-sm2.hex" "${sm2}\n")
file(WRITE "${values}/deploy-rsa.hex" "${rsa}\n")
execute_process(COMMAND ${OPENSSL} req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes
                        -keyout "${values}/deploy-ca.key" -out "${values}/deploy-ca.pem" -days 30
                        -subj "/CN=Deployment CA"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "openssl could not make the deployment's CA")
endif()
configure(rc text "${values}/deploy-ca.pem"
  "-DKEYLINQ_ROOT_SM2_PUBKEY=${values}/deploy-sm2.hex"
  "-DKEYLINQ_ROOT_RSA_PUBKEY=${values}/deploy-rsa.hex")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the release configuration with a deployment's values failed:\n${text}")
endif()
string(FIND "${text}" "ALLOW_TEST_ROOTS" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "a deployment's values were taken for test roots:\n${text}")
endif()

# 3. The test values on purpose: configures, with a warning.
configure(rc text
  "${SOURCE_DIR}/tests/fixtures/code-signing/root.pem|${SOURCE_DIR}/tests/fixtures/code-signing/intermediate.pem"
  "-DKEYLINQ_ROOT_SM2_PUBKEY=${SOURCE_DIR}/keylinq/device/roots/test-root-sm2.hex"
  "-DKEYLINQ_ROOT_RSA_PUBKEY=${SOURCE_DIR}/keylinq/device/roots/test-root-rsa1024.hex"
  -DALLOW_TEST_ROOTS=ON)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the release configuration with ALLOW_TEST_ROOTS=ON failed:\n${text}")
endif()
string(REGEX REPLACE "\n +" " " flat "${text}")
string(FIND "${flat}" "ALLOW_TEST_ROOTS: this build without the test bindings trusts the project's test roots" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no warning with ALLOW_TEST_ROOTS=ON:\n${text}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
