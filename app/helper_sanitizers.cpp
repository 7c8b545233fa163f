// Built into tarnwick-helper in the sanitizer build only.
//
// LeakSanitizer's check at exit stops the world: it starts a tracing child
// with clone and attaches to every thread with ptrace, after making the
// process dumpable again. The helper's system-call filter allows none of
// that, and should not in the build the tests run, or the tests would run
// another filter than the one shipped. So the check is off in the helper,
// and only there: the address and undefined-behaviour checks stay on, and
// the code the helper is made of (its protocol, serving loop and socket
// owners) is leak-checked in the test programs that run it in-process.
extern "C" int __lsan_is_turned_off() { return 1; }
