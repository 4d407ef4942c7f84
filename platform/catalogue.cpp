#include "catalogue.h"

#include <sys/stat.h>

const char *catalogue_dir()
{
#ifdef LLC2_BUILD_LOCALEDIR
    struct stat st {
    };
    if (::stat(LLC2_BUILD_LOCALEDIR, &st) == 0 && S_ISDIR(st.st_mode))
        return LLC2_BUILD_LOCALEDIR;
#endif
    return LLC2_LOCALEDIR;
}
