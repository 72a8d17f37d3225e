# Writes the embedded trust chain: a PKCS#7 certificate list of the given CA
# certificates (PEM or DER files) in the program's XML wrapper, and a
# resource script that embeds it as resource 130 of type "CERTCHAIN",
# language 1033.
#   cmake -DOPENSSL=... -DCERTS="a.pem;b.pem" -DOUT_DIR=... -P MakeCertChain.cmake
# Outputs in OUT_DIR: certchain.p7b (the DER), certchain.xml, certchain.rc.
cmake_minimum_required(VERSION 3.21)
if(NOT CERTS)
  message(FATAL_ERROR "no CA certificates given for the embedded trust chain")
endif()
file(MAKE_DIRECTORY ${OUT_DIR})

set(args crl2pkcs7 -nocrl -outform DER -out ${OUT_DIR}/certchain.p7b)
foreach(cert IN LISTS CERTS)
  if(NOT EXISTS "${cert}")
    message(FATAL_ERROR "CA certificate ${cert} does not exist")
  endif()
  # crl2pkcs7 reads PEM only: convert DER files first.
  file(READ "${cert}" head LIMIT 10)
  if(head MATCHES "-----BEGIN")
    list(APPEND args -certfile ${cert})
  else()
    get_filename_component(name "${cert}" NAME_WE)
    execute_process(COMMAND ${OPENSSL} x509 -inform DER -in ${cert} -out ${OUT_DIR}/${name}.pem
                    RESULT_VARIABLE rc)
    if(rc)
      message(FATAL_ERROR "${cert} is not a certificate")
    endif()
    list(APPEND args -certfile ${OUT_DIR}/${name}.pem)
  endif()
endforeach()
execute_process(COMMAND ${OPENSSL} ${args} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "openssl crl2pkcs7 failed")
endif()
execute_process(COMMAND ${OPENSSL} base64 -A -in ${OUT_DIR}/certchain.p7b
                OUTPUT_VARIABLE b64 RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(rc)
  message(FATAL_ERROR "openssl base64 failed")
endif()

# UTF-8, CR LF line ends, Base64 in lines of 76 characters; the first line
# follows the P7bContent start tag, the end tag follows the last character.
set(CRLF "\r\n")
string(CONCAT xml
  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>${CRLF}"
  "<!-- Certification authorities under which Certaide trusts the key library's signer. -->${CRLF}"
  "<!-- Generated at build time from the configured CA list. -->${CRLF}"
  "<root>${CRLF}"
  "    <P7bContent>")
string(LENGTH "${b64}" len)
set(pos 0)
while(pos LESS len)
  string(SUBSTRING "${b64}" ${pos} 76 line)
  math(EXPR pos "${pos} + 76")
  if(pos LESS len)
    string(APPEND xml "${line}${CRLF}")
  else()
    string(APPEND xml "${line}")
  endif()
endwhile()
string(APPEND xml "</P7bContent>${CRLF}</root>${CRLF}")
file(WRITE ${OUT_DIR}/certchain.xml.tmp "${xml}")
file(COPY_FILE ${OUT_DIR}/certchain.xml.tmp ${OUT_DIR}/certchain.xml ONLY_IF_DIFFERENT)
file(REMOVE ${OUT_DIR}/certchain.xml.tmp)

file(WRITE ${OUT_DIR}/certchain.rc
  "// Generated: the embedded trust chain.\n"
  "LANGUAGE 0x09, 0x01\n"
  "130 CERTCHAIN \"${OUT_DIR}/certchain.xml\"\n")
