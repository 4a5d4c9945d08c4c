// What the platform's library entry (a constructor/destructor pair on POSIX, DllMain on
// Windows) calls in the library when the loader or a thread comes and goes.
#pragma once

namespace zdb {

// A thread that holds a Session ends: its Session is logged out and destroyed.
void OnThreadDetach();
// The library is unloaded or the process ends: the oldest Session is destroyed.
void OnProcessDetach();

}  // namespace zdb
