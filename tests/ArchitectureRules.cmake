# sqlite3.h belongs to the engine alone; Qt Widgets belongs to the window.
# Every source folder of the tree is read (build folders, recognised by their
# CMakeCache.txt, and hidden folders left out), so a new folder is covered
# without anyone remembering to add it.
#   cmake -DROOT=<source tree> -P ArchitectureRules.cmake

# Where sqlite3.h may be included besides support/engine/ (paths relative to
# ROOT, as regular expressions). None today: tests and benchmarks reach the
# engine through its own interface.
set(sqlite_exceptions "")
# Where Qt Widgets may be used: the window, its tests and its benchmark.
set(widget_places "^shell/" "^windows/" "^tests/gui/" "^bench/bench_window_check\\.cpp$")

file(GLOB top LIST_DIRECTORIES true RELATIVE ${ROOT} ${ROOT}/*)
set(sources "")
foreach(entry IN LISTS top)
  if(NOT IS_DIRECTORY ${ROOT}/${entry} OR entry MATCHES "^\\." OR EXISTS ${ROOT}/${entry}/CMakeCache.txt)
    continue()
  endif()
  file(GLOB_RECURSE found RELATIVE ${ROOT} ${ROOT}/${entry}/*.cpp ${ROOT}/${entry}/*.h ${ROOT}/${entry}/*.c
       ${ROOT}/${entry}/*.cc ${ROOT}/${entry}/*.hpp)
  list(APPEND sources ${found})
endforeach()
if(NOT sources MATCHES "support/engine/Sql.cpp")
  message(FATAL_ERROR "ROOT=${ROOT} does not look like the source tree")
endif()

function(matches_any path out)
  set(hit FALSE)
  foreach(pattern IN LISTS ARGN)
    if(path MATCHES "${pattern}")
      set(hit TRUE)
    endif()
  endforeach()
  set(${out} ${hit} PARENT_SCOPE)
endfunction()

set(failures "")
foreach(f IN LISTS sources)
  file(READ ${ROOT}/${f} text)
  string(REGEX MATCH "#include[ \t]*[<\"][^>\"]*sqlite3\\.h" hit "${text}")
  if(hit AND NOT f MATCHES "^support/engine/")
    matches_any(${f} allowed ${sqlite_exceptions})
    if(NOT allowed)
      list(APPEND failures "${f} includes sqlite3.h outside the engine")
    endif()
  endif()
  string(REGEX MATCH "#include[ \t]*<Qt(Widgets|PrintSupport)|#include[ \t]*<Q(Widget|MainWindow|MessageBox|Dialog|Application)>" hit "${text}")
  if(hit)
    matches_any(${f} allowed ${widget_places})
    if(NOT allowed)
      list(APPEND failures "${f} uses Qt Widgets outside the window")
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
