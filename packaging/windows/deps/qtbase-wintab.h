/* wintab.h for Qt's Windows platform plugin. Debian's +dfsg qtbase tarball
 * drops src/3rdparty/wintab; Wine's LGPL wintab.h (as wine-wintab.h) and
 * pktdef.h, from the libwine-dev package, stand in. This wrapper supplies
 * what Wine's header takes from Wine's own headers, and the API macro that
 * Qt's own copy defines. */
#ifndef QUILLMAR_QT_WINTAB_H
#define QUILLMAR_QT_WINTAB_H

#include <windows.h>

#ifndef API
#define API WINAPI
#endif

/* Wine's fixed-point helpers INT(), FRAC() and ROUND() would shadow
 * Windows' INT type and Qt's names; Qt does not use them. */
#ifndef NOFIX32
#define NOFIX32
#endif

#ifndef WINELIB_NAME_AW
#define WINELIB_NAME_AW(name) __MINGW_NAME_AW(name)
#endif
#ifndef DECL_WINELIB_TYPE_AW
#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif

#include "wine-wintab.h"

#endif
