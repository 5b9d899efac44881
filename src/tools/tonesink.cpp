#include "tools/tonesink.h"

#ifdef HQL_HAVE_ALSA
#include "tools/alsatonesink.h"
#endif

std::unique_ptr<ToneSink> ToneSink::createSystemSink()
{
#ifdef HQL_HAVE_ALSA
    return std::make_unique<AlsaToneSink>();
#else
    return nullptr;
#endif
}
