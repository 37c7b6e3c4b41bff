# One place for the warning flags every target of the project builds with.
function(msc_add_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
endfunction()
