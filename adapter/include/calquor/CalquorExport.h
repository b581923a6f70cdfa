// The one macro that marks the exported interface of the Calquor libraries.
// Everything else is built with hidden visibility.
#pragma once

#if defined(CALQUOR_AUTOMATION_ENGINE)
// The automation servers export their entry points only: their engine
// stays inside the module.
#  define CALQUOR_API
#elif defined(_WIN32)
#  if defined(CALQUOR_BUILD)
#    define CALQUOR_API __declspec(dllexport)
#  else
#    define CALQUOR_API __declspec(dllimport)
#  endif
#else
#  define CALQUOR_API __attribute__((visibility("default")))
#endif
