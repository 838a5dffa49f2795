# A shipped program imports only KnownDLLs, which Windows takes from System32 whatever lies beside the program,
# and the side-by-side common controls (the C++ and stack-protector runtimes are linked in; other DLLs are loaded
# at run time from System32 alone). Its header asks for high-entropy ASLR with relocations, DEP and Windows 10,
# with no link time.
# -DPROGRAM=<exe> -DOBJDUMP=<objdump>
set(allowed advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt normaliz
    nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32 comctl32)
cmake_policy(SET CMP0057 NEW)
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
    string(REGEX REPLACE "\\.dll$" "" name "${dll}")
    if(NOT name IN_LIST allowed)
        message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is not a KnownDLL")
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
