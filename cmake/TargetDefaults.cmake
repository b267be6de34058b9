# What every target of ours is built with: the warnings we hold our code to and the definitions
# that keep it off API we do not want. Third-party headers come in as system headers and are not
# held to these.
option(STILLWICK_WERROR "Treat warnings in our code as errors" OFF)

set(STILLWICK_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wpedantic)
if(STILLWICK_WERROR)
  list(APPEND STILLWICK_WARNINGS -Werror)
endif()

function(stillwick_target_defaults target)
  target_compile_options(${target} PRIVATE ${STILLWICK_WARNINGS})
  # Qt's bare keywords clash with GLib names; deprecated GStreamer API is not for new code.
  target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS GST_DISABLE_DEPRECATED)
endfunction()
