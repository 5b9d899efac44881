#pragma once

#include <QtGlobal>

// A test's bound on wall-clock time says "this does not wait for that",
// not how fast the machine is. Sanitized builds run several times slower,
// so every such bound goes through bound(); HQL_TEST_TIME_FACTOR overrides
// the factor for other slow runs (valgrind, a loaded machine).
namespace TestTiming {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int BuildFactor = 10;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int BuildFactor = 10;
#else
constexpr int BuildFactor = 1;
#endif
#else
constexpr int BuildFactor = 1;
#endif

inline int factor()
{
    bool ok = false;
    const int fromEnv = qEnvironmentVariableIntValue("HQL_TEST_TIME_FACTOR", &ok);
    return ok && fromEnv > 0 ? fromEnv : BuildFactor;
}

inline qint64 bound(qint64 ms)
{
    return ms * factor();
}

} // namespace TestTiming
