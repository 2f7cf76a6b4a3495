# cmake -DFILE=kelvane.exe -DSIZE=1950720 -P PadStub.cmake
# Pads the linked stub with zeros to its exact length; fails when it is larger.
file(SIZE "${FILE}" linked)
if(linked GREATER SIZE)
  message(FATAL_ERROR "${FILE} is ${linked} bytes, over the stub size of ${SIZE}: make the program smaller")
endif()
execute_process(COMMAND truncate -s ${SIZE} "${FILE}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot pad ${FILE}")
endif()
