# sqlite3.h belongs to the engine alone; Qt Widgets never enters the core.
file(GLOB_RECURSE sources ${ROOT}/support/*.cpp ${ROOT}/support/*.h ${ROOT}/database/*.cpp
     ${ROOT}/database/*.h ${ROOT}/cli/*.cpp ${ROOT}/cli/*.h ${ROOT}/shell/*.cpp ${ROOT}/shell/*.h
     ${ROOT}/windows/*.cpp ${ROOT}/windows/*.h)
set(failures "")
foreach(f IN LISTS sources)
  file(READ ${f} text)
  string(REGEX MATCH "#include[ \t]*[<\"][^>\"]*sqlite3\\.h" hit "${text}")
  if(hit AND NOT f MATCHES "/support/engine/")
    list(APPEND failures "${f} includes sqlite3.h outside the engine")
  endif()
  if(f MATCHES "/(support|database)/")
    string(REGEX MATCH "#include[ \t]*<Qt(Widgets|PrintSupport)|#include[ \t]*<Q(Widget|MainWindow|MessageBox|Dialog|Application)>" hit "${text}")
    if(hit)
      list(APPEND failures "${f} uses Qt Widgets inside the core")
    endif()
    # Files are reached through the session's Env only: the real one is the
    # single place that calls the platform, the fault-injecting one the
    # single place that asks the failpoint table.
    if(NOT f MATCHES "/support/(RealEnv|FaultInjectionEnv|Failpoint)\\.")
      string(REGEX MATCH "[^A-Za-z0-9_]::(open|stat|lstat|fstat|unlink|access|opendir|linkat)\\(|[^A-Za-z0-9_]flock\\(|fopen\\(|ifstream|reportonly::|[^A-Za-z0-9_.>]Failpoint\\(|std::filesystem::(remove|rename|copy|create_|permissions|directory_iterator|symlink_status|status|file_size|canonical|absolute|space|exists|is_)" hit "${text}")
      if(hit)
        list(APPEND failures "${f} calls a file function outside the real Env (${hit})")
      endif()
    endif()
  endif()
endforeach()
if(failures)
  string(REPLACE ";" "\n" failures "${failures}")
  message(FATAL_ERROR "${failures}")
endif()
