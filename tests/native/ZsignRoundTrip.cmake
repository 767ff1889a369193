# zsign sign, then verify (accepted), then verify a tampered copy (refused).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/file.bin "a file to sign\n")
execute_process(COMMAND ${ZSIGN} sign --keys ${KEYS} ${WORK}/file.bin RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zsign sign failed: ${rc}")
endif()
execute_process(COMMAND ${ZSIGN} verify --keys ${KEYS} ${WORK}/file.bin
                RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^OK ")
  message(FATAL_ERROR "a signed file was refused: ${rc} ${out}")
endif()
# CMake's text functions drop the tag's carriage return: change one byte in place.
file(COPY_FILE ${WORK}/file.bin ${WORK}/tampered.bin)
execute_process(COMMAND sh -c "printf A | dd of='${WORK}/tampered.bin' bs=1 conv=notrunc status=none")
execute_process(COMMAND ${ZSIGN} verify --keys ${KEYS} ${WORK}/tampered.bin
                RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(rc EQUAL 0 OR NOT out MATCHES "FAILED .*\\(0xc58506ed\\)")
  message(FATAL_ERROR "a tampered file was accepted: ${rc} ${out}")
endif()
file(REMOVE_RECURSE ${WORK})
