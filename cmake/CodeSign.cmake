# Authenticode signing of what a user runs: ZeltInformer.exe (before the
# patch and the installer pack it), the patch (files.zip), the installer and
# its uninstaller, through scripts/sign-release (osslsigncode).
#   ZELT_CODESIGN_CERT       PKCS#12 file, or PEM certificate chain; empty: nothing is signed
#   ZELT_CODESIGN_KEY        the PEM private key of a PEM certificate
#   ZELT_CODESIGN_PASS_FILE  a file holding the password of the PKCS#12 file or key
#   ZELT_CODESIGN_TIMESTAMP  RFC 3161 time-stamping URL (a release should use one)
# A Windows build with tests and no certificate of its own makes a throwaway
# CA and code-signing certificate in its build folder (test-codesign/, whose
# ca.pem the tests verify against), so the tests see signed binaries.
# Sets ZELT_CODESIGN_COMMAND: the signing command, the binaries' names to
# follow; empty when nothing is signed.
set(ZELT_CODESIGN_CERT "" CACHE FILEPATH "Authenticode certificate: PKCS#12, or PEM chain with ZELT_CODESIGN_KEY; empty: unsigned")
set(ZELT_CODESIGN_KEY "" CACHE FILEPATH "Private key (PEM) of a PEM ZELT_CODESIGN_CERT")
set(ZELT_CODESIGN_PASS_FILE "" CACHE FILEPATH "File holding the password of the certificate or key, if any")
set(ZELT_CODESIGN_TIMESTAMP "" CACHE STRING "RFC 3161 time-stamping URL for the signatures, if any")

set(zelt_cert "${ZELT_CODESIGN_CERT}")
set(zelt_key "${ZELT_CODESIGN_KEY}")
if(NOT zelt_cert AND ZELT_BUILD_TESTS AND WIN32)
  set(dir ${CMAKE_BINARY_DIR}/test-codesign)
  set(zelt_cert ${dir}/cert.pem)
  set(zelt_key ${dir}/key.pem)
  if(NOT EXISTS ${zelt_cert} OR NOT EXISTS ${zelt_key})
    find_program(ZELT_OPENSSL openssl REQUIRED)
    file(MAKE_DIRECTORY ${dir})
    file(WRITE ${dir}/leaf.ext "basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                               "extendedKeyUsage=codeSigning\n")
    execute_process(COMMAND ${ZELT_OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout ${dir}/ca.key
                            -out ${dir}/ca.pem -subj "/CN=Zelt Rarazovo test CA"
                            -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign"
                    RESULT_VARIABLE rc1 OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${ZELT_OPENSSL} req -newkey rsa:2048 -nodes -keyout ${zelt_key} -out ${dir}/cert.csr
                            -subj "/CN=Zelt Rarazovo test code signing"
                    RESULT_VARIABLE rc2 OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${ZELT_OPENSSL} x509 -req -in ${dir}/cert.csr -CA ${dir}/ca.pem -CAkey ${dir}/ca.key
                            -set_serial 1 -days 3650 -extfile ${dir}/leaf.ext -out ${zelt_cert}
                    RESULT_VARIABLE rc3 OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0 OR NOT rc3 EQUAL 0)
      file(REMOVE ${zelt_cert} ${zelt_key})
      message(FATAL_ERROR "could not make the test build's code-signing certificate in ${dir}")
    endif()
  endif()
  message(STATUS "Binaries of this test build are signed with the throwaway certificate in ${dir}")
elseif(NOT zelt_cert AND ZELT_RELEASE)
  message(WARNING "This release's binaries are not signed (no ZELT_CODESIGN_CERT): Windows warns whoever starts them")
endif()

set(ZELT_CODESIGN_COMMAND "")
set(ZELT_CODESIGN_INPUTS "")
if(zelt_cert)
  find_program(ZELT_OSSLSIGNCODE osslsigncode REQUIRED)
  set(ZELT_CODESIGN_COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign-release --cert ${zelt_cert})
  set(ZELT_CODESIGN_INPUTS ${CMAKE_SOURCE_DIR}/scripts/sign-release ${zelt_cert})
  if(zelt_key)
    list(APPEND ZELT_CODESIGN_COMMAND --key ${zelt_key})
    list(APPEND ZELT_CODESIGN_INPUTS ${zelt_key})
  endif()
  if(ZELT_CODESIGN_PASS_FILE)
    list(APPEND ZELT_CODESIGN_COMMAND --pass-file ${ZELT_CODESIGN_PASS_FILE})
  endif()
  if(ZELT_CODESIGN_TIMESTAMP)
    list(APPEND ZELT_CODESIGN_COMMAND --timestamp ${ZELT_CODESIGN_TIMESTAMP})
  endif()
endif()

# Signs `target`'s file in place after each link; a new certificate relinks it.
function(zelt_codesign target)
  if(ZELT_CODESIGN_COMMAND)
    add_custom_command(TARGET ${target} POST_BUILD COMMAND ${ZELT_CODESIGN_COMMAND} $<TARGET_FILE:${target}> VERBATIM)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ZELT_CODESIGN_INPUTS})
  endif()
endfunction()
