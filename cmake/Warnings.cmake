# Every target of ours compiles with the same strict warning set.
function(vardelio_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(VARDELIO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
