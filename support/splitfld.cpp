#include "support/splitfld.h"

#include <cstring>

int split_flds(char *str, char **flds, char delim, int skip, int maxflds)
{
    if (!str || !flds)
        return 0;
    int nflds = 0;
    char *p = str;
    while (*p != '\0' && nflds < maxflds) {
        flds[nflds++] = p;
        p = strchrnul(p, delim); // the field's end: delim or the end of str
        if (*p == '\0')
            break;
        *p++ = '\0';
        if (skip)
            while (*p == delim && *p != '\0')
                p++;
        // A delimiter at the very end still closes a field: the empty one after it.
        if (*p == '\0' && nflds < maxflds)
            flds[nflds++] = p;
    }
    return nflds;
}
