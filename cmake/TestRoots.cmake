# Release builds and the project's test roots.
#
# The built-in root public keys (KEYLINQ_ROOT_SM2_PUBKEY,
# KEYLINQ_ROOT_RSA_PUBKEY) default to the project's test roots and
# Certaide's embedded trust chain (CERTAIDE_CERTCHAIN_CAS) to the test CAs;
# the private halves of both are in this repository. A build without the
# test bindings that kept them would trust keys and key libraries that
# anyone holding the repository can sign, so configuring one fails unless
# ALLOW_TEST_ROOTS says so on purpose (the tests' own release-mode checks).

option(ALLOW_TEST_ROOTS
  "Let a build without the test bindings keep the test roots and test CAs (never for a build that ships)" OFF)

# The hexadecimal digits of a key file, lower case.
function(test_roots_hex file out_var)
  file(READ "${file}" text)
  string(REGEX REPLACE "[^0-9a-fA-F]" "" text "${text}")
  string(TOLOWER "${text}" text)
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# The SHA-256 fingerprint of a certificate file (PEM or DER); empty when the
# file holds no certificate.
function(test_roots_fingerprint openssl file out_var)
  set(print "")
  foreach(form PEM DER)
    execute_process(COMMAND ${openssl} x509 -inform ${form} -in "${file}" -noout -fingerprint -sha256
                    OUTPUT_VARIABLE out ERROR_QUIET RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(rc EQUAL 0 AND out MATCHES "=([0-9A-Fa-f:]+)$")
      set(print "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
  set(${out_var} "${print}" PARENT_SCOPE)
endfunction()

# Fails the configuration when a build without the test bindings carries a
# test root or a test CA. Arguments: the source folder of the project, and
# the host openssl (for the trust chain; empty when the build has none).
function(refuse_test_roots source_dir openssl)
  set(found "")
  if(NOT KEYLINQ_TEST_BINDING)
    file(GLOB test_keys "${source_dir}/keylinq/device/roots/test-*.hex")
    set(test_hex "")
    foreach(key IN LISTS test_keys)
      test_roots_hex("${key}" hex)
      list(APPEND test_hex "${hex}")
    endforeach()
    foreach(var KEYLINQ_ROOT_SM2_PUBKEY KEYLINQ_ROOT_RSA_PUBKEY)
      if(DEFINED ${var} AND EXISTS "${${var}}")
        test_roots_hex("${${var}}" hex)
        if(hex IN_LIST test_hex)
          list(APPEND found "  ${var} = ${${var}} is a test root public key")
        endif()
      endif()
    endforeach()
  endif()
  if(NOT CERTAIDE_TEST_BINDING AND openssl AND DEFINED CERTAIDE_CERTCHAIN_CAS)
    file(GLOB test_certs "${source_dir}/tests/fixtures/*/*.pem" "${source_dir}/tests/fixtures/*/*.der")
    set(test_prints "")
    foreach(cert IN LISTS test_certs)
      test_roots_fingerprint(${openssl} "${cert}" print)
      if(print)
        list(APPEND test_prints "${print}")
      endif()
    endforeach()
    foreach(cert IN LISTS CERTAIDE_CERTCHAIN_CAS)
      if(EXISTS "${cert}")
        test_roots_fingerprint(${openssl} "${cert}" print)
        if(print AND print IN_LIST test_prints)
          list(APPEND found "  CERTAIDE_CERTCHAIN_CAS names ${cert}, a test CA")
        endif()
      endif()
    endforeach()
  endif()
  if(NOT found)
    return()
  endif()
  list(JOIN found "\n" found_text)
  if(ALLOW_TEST_ROOTS)
    message(WARNING "ALLOW_TEST_ROOTS: this build without the test bindings trusts the project's test roots:\n"
                    "${found_text}\nNever ship it.")
    return()
  endif()
  string(CONCAT supply
    "  -DKEYLINQ_ROOT_SM2_PUBKEY=<file: hexadecimal X || Y of the key family's SM2 root public key>\n"
    "  -DKEYLINQ_ROOT_RSA_PUBKEY=<file: hexadecimal modulus of the key family's RSA-1024 root public key>\n")
  if(openssl)
    string(APPEND supply "  -DCERTAIDE_CERTCHAIN_CAS=<the CA certificates (PEM or DER files, separated by \";\") "
                         "under which the key library's signer chains>\n")
  endif()
  message(FATAL_ERROR
    "A build without the test bindings (KEYLINQ_TEST_BINDING, CERTAIDE_TEST_BINDING OFF) must not trust the "
    "project's test roots, whose private keys are in this repository:\n"
    "${found_text}\n"
    "Supply the deployment's values:\n"
    "${supply}"
    "or, to check a release configuration with the test values on purpose, -DALLOW_TEST_ROOTS=ON.")
endfunction()
