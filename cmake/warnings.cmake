# Warning flags for the project's own targets (never for GoogleTest).
set(OS_WARNING_FLAGS -Wall -Wextra -Werror -Wformat=2 -Wshadow)
function(os_target_warnings target)
  target_compile_options(${target} PRIVATE ${OS_WARNING_FLAGS})
endfunction()
