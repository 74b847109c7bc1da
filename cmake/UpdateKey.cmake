# The public key that update manifests must be signed with (ECDSA P-256 over
# SHA-256, checked with the system's CNG before a package is written or run).
# A release must carry one. A build with tests and no key of its own makes a
# throwaway pair in its build folder, so the tests exercise the signed path;
# its private half signs the test packages. Other builds must be given one;
# should the program still run without a key, it offers no update download.
#   ZELT_UPDATE_KEY_HEX   the raw point X then Y, 128 hex digits, or empty
#   ZELT_UPDATE_KEY_PEM   the public key file in use, or empty
#   ZELT_UPDATE_KEY_PRIVATE  the throwaway private key (test builds only)
set(ZELT_UPDATE_KEY "" CACHE FILEPATH "Public key (PEM, ECDSA P-256) of the update manifests; empty: no update download")

set(ZELT_UPDATE_KEY_PEM "${ZELT_UPDATE_KEY}")
set(ZELT_UPDATE_KEY_PRIVATE "")
set(ZELT_UPDATE_KEY_HEX "")

if(ZELT_RELEASE AND NOT ZELT_UPDATE_KEY)
  message(FATAL_ERROR "A release build starts the updates it downloads: give it the packages' public key "
                      "with -DZELT_UPDATE_KEY=path/to/public.pem")
endif()
# Only a build with tests may go without a key (it makes its own below).
if(WIN32 AND NOT ZELT_BUILD_TESTS AND NOT ZELT_UPDATE_KEY)
  message(FATAL_ERROR "A build without tests must be given the update packages' public key "
                      "with -DZELT_UPDATE_KEY=path/to/public.pem")
endif()

if(NOT ZELT_UPDATE_KEY_PEM AND ZELT_BUILD_TESTS AND WIN32)
  set(zelt_test_key_dir ${CMAKE_BINARY_DIR}/test-key)
  set(ZELT_UPDATE_KEY_PRIVATE ${zelt_test_key_dir}/private.pem)
  set(ZELT_UPDATE_KEY_PEM ${zelt_test_key_dir}/public.pem)
  if(NOT EXISTS ${ZELT_UPDATE_KEY_PEM})
    find_program(ZELT_OPENSSL openssl REQUIRED)
    file(MAKE_DIRECTORY ${zelt_test_key_dir})
    execute_process(COMMAND ${ZELT_OPENSSL} ecparam -name prime256v1 -genkey -noout -out ${ZELT_UPDATE_KEY_PRIVATE}
                    RESULT_VARIABLE rc1)
    execute_process(COMMAND ${ZELT_OPENSSL} ec -in ${ZELT_UPDATE_KEY_PRIVATE} -pubout -out ${ZELT_UPDATE_KEY_PEM}
                    RESULT_VARIABLE rc2 ERROR_QUIET)
    if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
      message(FATAL_ERROR "could not make the test build's update key in ${zelt_test_key_dir}")
    endif()
  endif()
  message(STATUS "Update packages of this test build are signed with the throwaway key in ${zelt_test_key_dir}")
endif()

if(ZELT_UPDATE_KEY_PEM)
  find_program(ZELT_OPENSSL openssl REQUIRED)
  set(zelt_key_der ${CMAKE_BINARY_DIR}/update-key.der)
  execute_process(COMMAND ${ZELT_OPENSSL} pkey -pubin -in ${ZELT_UPDATE_KEY_PEM} -outform DER -out ${zelt_key_der}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ZELT_UPDATE_KEY: not a public key in PEM form: ${ZELT_UPDATE_KEY_PEM}\n${err}")
  endif()
  file(READ ${zelt_key_der} der HEX)
  file(REMOVE ${zelt_key_der})
  # SubjectPublicKeyInfo of an uncompressed P-256 point: 27 fixed bytes, then X and Y.
  set(p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  string(LENGTH "${der}" der_length)
  string(SUBSTRING "${der}" 0 54 prefix)
  if(NOT der_length EQUAL 182 OR NOT prefix STREQUAL p256_prefix)
    message(FATAL_ERROR "ZELT_UPDATE_KEY must be an ECDSA P-256 public key: ${ZELT_UPDATE_KEY_PEM}")
  endif()
  string(SUBSTRING "${der}" 54 128 ZELT_UPDATE_KEY_HEX)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZELT_UPDATE_KEY_PEM})
endif()
