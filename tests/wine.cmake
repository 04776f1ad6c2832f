# Starts or stops the wineserver that serves the whole suite, in the prefix
# named by WINEPREFIX. The first start also creates the prefix. Wine's
# background processes must not hold on to CTest's pipes, or the step never
# ends: they get /dev/null instead.
set(quiet INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
if(ACTION STREQUAL "start")
  if(NOT EXISTS "$ENV{WINEPREFIX}/system.reg")
    # A new prefix goes on setting itself up after wineboot returns, and a
    # console opened meanwhile stalls for ten seconds: let it finish. The
    # server ends with the last of its processes.
    file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
    execute_process(COMMAND wineboot -i ${quiet} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND wineserver -w ${quiet})
  endif()
  # Fails harmlessly when a server for this prefix is already up.
  execute_process(COMMAND wineserver -p ${quiet})
  execute_process(COMMAND wineboot -i ${quiet} COMMAND_ERROR_IS_FATAL ANY)
elseif(ACTION STREQUAL "stop")
  execute_process(COMMAND wineserver -k ${quiet})
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
