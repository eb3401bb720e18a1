#include "processfigures.h"

#include <QDir>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_LINUX
#include <link.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define BRELK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRELK_ADDRESS_SANITIZER 1
#endif
#endif

namespace ProcessFigures {

qint64 residentKilobytes()
{
    // Stdio, because /proc reports a size of 0 and QFile would stop reading at once.
    std::FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    qint64 kilobytes = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        long long value = 0;
        if (std::sscanf(line, "VmRSS: %lld kB", &value) == 1) {
            kilobytes = value;
            break;
        }
    }
    std::fclose(status);
    return kilobytes;
}

int openFileCount()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (!fds.exists())
        return -1;
    return int(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

#ifdef Q_OS_LINUX
namespace {
struct ObjectCount
{
    const char *pathFragment;
    int count;
};

int countObject(dl_phdr_info *info, size_t, void *data)
{
    auto *objects = static_cast<ObjectCount *>(data);
    if (!objects->pathFragment ||
        (info->dlpi_name && std::strstr(info->dlpi_name, objects->pathFragment)))
        ++objects->count;
    return 0;
}
} // namespace
#endif

int loadedObjectCount(const char *pathFragment)
{
#ifdef Q_OS_LINUX
    ObjectCount objects{pathFragment, 0};
    dl_iterate_phdr(countObject, &objects);
    return objects.count;
#else
    Q_UNUSED(pathFragment);
    return -1;
#endif
}

bool sanitizerHoldsFreedMemory()
{
#ifdef BRELK_ADDRESS_SANITIZER
    return true;
#else
    return false;
#endif
}

} // namespace ProcessFigures
