# A shipped program imports only Windows' own DLLs (the C++ and stack-protector runtimes are linked in) and its
# header asks for high-entropy ASLR with relocations, DEP and Windows 10, with no link time.
# -DPROGRAM=<exe> -DOBJDUMP=<objdump> -DSYSTEM_DLLS=<folder of Windows system DLLs>
set(ENV{TZ} UTC)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "objdump failed on ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
    message(FATAL_ERROR "no imports found in ${PROGRAM}")
endif()
foreach(line ${imports})
    string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
    string(TOLOWER "${dll}" dll)
    if(dll MATCHES "^lib" OR NOT EXISTS "${SYSTEM_DLLS}/${dll}")
        message(FATAL_ERROR "${PROGRAM} needs ${dll}, which is not a Windows system DLL")
    endif()
endforeach()

foreach(wanted "\n[ \t]+HIGH_ENTROPY_VA\n" "\n[ \t]+DYNAMIC_BASE\n" "\n[ \t]+NX_COMPAT\n"
               "\nMajorSubsystemVersion[ \t]+10\n" "\nMinorSubsystemVersion[ \t]+0\n"
               "\nTime/Date[ \t]+Thu Jan  1 00:00:00 1970\n" "\nEntry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory")
    if(NOT dump MATCHES "${wanted}")
        string(STRIP "${wanted}" shown)
        message(FATAL_ERROR "${PROGRAM}'s header lacks ${shown}")
    endif()
endforeach()
