/* Core types of the Netscape plug-in interface (NPAPI) as seen on Unix (X11), laid out to match what browsers
 * pass at the binary boundary on Linux x86_64. Plain C so that both C and C++ code can include it. */
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#ifndef XP_UNIX
#define XP_UNIX 1
#endif

#define NP_VERSION_MAJOR 0
#define NP_VERSION_MINOR 29

/* Browser versions (minor numbers) from which a feature is present. */
#define NPVERS_HAS_NPRUNTIME_SCRIPTING 14
#define NPVERS_HAS_NPOBJECT_ENUM 18
#define NPVERS_HAS_PLUGIN_THREAD_ASYNC_CALL 19
#define NPVERS_HAS_URL_AND_AUTH_INFO 21
#define NPVERS_HAS_PRIVATE_MODE 22
#define NPVERS_HAS_ADVANCED_KEY_HANDLING 25
#define NPVERS_HAS_URL_REDIRECT_HANDLING 26
#define NPVERS_HAS_CLEAR_SITE_DATA 27

#define NP_LOADDS

#if defined(__GNUC__)
#define NP_VISIBLE __attribute__((visibility("default")))
#else
#define NP_VISIBLE
#endif
#define NP_EXPORT(type) NP_VISIBLE type

/* Only Mac builds with old compilers flag their enum values; Unix does not. */
#define NP_ABI_MASK 0

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char NPBool;
typedef int16_t NPError;
typedef int16_t NPReason;
typedef char* NPMIMEType;

/* One plug-in instance: pdata belongs to the plug-in, ndata to the browser. */
typedef struct _NPP
{
    void* pdata;
    void* ndata;
} NPP_t;
typedef NPP_t* NPP;

typedef struct _NPStream
{
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
} NPStream;

typedef struct _NPByteRange
{
    int32_t offset;
    uint32_t length;
    struct _NPByteRange* next;
} NPByteRange;

typedef struct _NPSavedData
{
    int32_t len;
    void* buf;
} NPSavedData;

typedef struct _NPRect
{
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
} NPRect;

typedef struct _NPSize
{
    int32_t width;
    int32_t height;
} NPSize;

typedef enum
{
    NPFocusNext = 0,
    NPFocusPrevious = 1
} NPFocusDirection;

/* Unix window-system details handed with a window (NPWindow::ws_info) or a print request. */
enum
{
    NP_SETWINDOW = 1,
    NP_PRINT
};

typedef struct
{
    int32_t type;
} NPAnyCallbackStruct;

typedef struct
{
    int32_t type;
    Display* display;
    Visual* visual;
    Colormap colormap;
    unsigned int depth;
} NPSetWindowCallbackStruct;

typedef struct
{
    int32_t type;
    FILE* fp;
} NPPrintCallbackStruct;

typedef enum
{
    NPNVGtk12 = 1,
    NPNVGtk2
} NPNToolkitType;

typedef enum
{
    NPPVpluginNameString = 1,
    NPPVpluginDescriptionString = 2,
    NPPVpluginWindowBool = 3,
    NPPVpluginTransparentBool = 4,
    NPPVjavaClass = 5,
    NPPVpluginWindowSize = 6,
    NPPVpluginTimerInterval = 7,
    NPPVpluginScriptableInstance = (10 | NP_ABI_MASK),
    NPPVpluginScriptableIID = 11,
    NPPVjavascriptPushCallerBool = 12,
    NPPVpluginKeepLibraryInMemory = 13,
    NPPVpluginNeedsXEmbed = 14,
    NPPVpluginScriptableNPObject = 15,
    NPPVformValue = 16,
    NPPVpluginUrlRequestsDisplayedBool = 17,
    NPPVpluginWantsAllNetworkStreams = 18,
    NPPVpluginNativeAccessibleAtkPlugId = 19,
    NPPVpluginCancelSrcStream = 20,
    NPPVsupportsAdvancedKeyHandling = 21,
    NPPVpluginUsesDOMForCursorBool = 22
} NPPVariable;

typedef enum
{
    NPNVxDisplay = 1,
    NPNVxtAppContext = 2,
    NPNVnetscapeWindow = 3,
    NPNVjavascriptEnabledBool = 4,
    NPNVasdEnabledBool = 5,
    NPNVisOfflineBool = 6,
    NPNVserviceManager = (10 | NP_ABI_MASK),
    NPNVDOMElement = (11 | NP_ABI_MASK),
    NPNVDOMWindow = (12 | NP_ABI_MASK),
    NPNVToolkit = (13 | NP_ABI_MASK),
    NPNVSupportsXEmbedBool = 14,
    NPNVWindowNPObject = 15,
    NPNVPluginElementNPObject = 16,
    NPNVSupportsWindowless = 17,
    NPNVprivateModeBool = 18,
    NPNVsupportsAdvancedKeyHandling = 21,
    NPNVdocumentOrigin = 22
} NPNVariable;

typedef enum
{
    NPNURLVCookie = 501,
    NPNURLVProxy
} NPNURLVariable;

typedef enum
{
    NPCoordinateSpacePlugin = 1,
    NPCoordinateSpaceWindow,
    NPCoordinateSpaceFlippedWindow,
    NPCoordinateSpaceScreen,
    NPCoordinateSpaceFlippedScreen
} NPCoordinateSpace;

typedef enum
{
    NPWindowTypeWindow = 1,
    NPWindowTypeDrawable
} NPWindowType;

/* The area a plug-in draws in: an X window id (windowed) or a drawable (windowless). */
typedef struct _NPWindow
{
    void* window;
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    void* ws_info; /* NPSetWindowCallbackStruct* */
    NPWindowType type;
} NPWindow;

typedef struct _NPFullPrint
{
    NPBool pluginPrinted;
    NPBool printOne;
    void* platformPrint;
} NPFullPrint;

typedef struct _NPEmbedPrint
{
    NPWindow window;
    void* platformPrint;
} NPEmbedPrint;

typedef struct _NPPrint
{
    uint16_t mode; /* NP_FULL or NP_EMBED */
    union
    {
        NPFullPrint fullPrint;
        NPEmbedPrint embedPrint;
    } print;
} NPPrint;

typedef XEvent NPEvent;
typedef Region NPRegion;
typedef void* NPMenu;

/* Instance modes. */
#define NP_EMBED 1
#define NP_FULL 2

/* Stream types. */
#define NP_NORMAL 1
#define NP_SEEK 2
#define NP_ASFILE 3
#define NP_ASFILEONLY 4

#define NP_MAXREADY (((unsigned)(~0) << 1) >> 1)

/* Error codes. */
#define NPERR_BASE 0
#define NPERR_NO_ERROR (NPERR_BASE + 0)
#define NPERR_GENERIC_ERROR (NPERR_BASE + 1)
#define NPERR_INVALID_INSTANCE_ERROR (NPERR_BASE + 2)
#define NPERR_INVALID_FUNCTABLE_ERROR (NPERR_BASE + 3)
#define NPERR_MODULE_LOAD_FAILED_ERROR (NPERR_BASE + 4)
#define NPERR_OUT_OF_MEMORY_ERROR (NPERR_BASE + 5)
#define NPERR_INVALID_PLUGIN_ERROR (NPERR_BASE + 6)
#define NPERR_INVALID_PLUGIN_DIR_ERROR (NPERR_BASE + 7)
#define NPERR_INCOMPATIBLE_VERSION_ERROR (NPERR_BASE + 8)
#define NPERR_INVALID_PARAM (NPERR_BASE + 9)
#define NPERR_INVALID_URL (NPERR_BASE + 10)
#define NPERR_FILE_NOT_FOUND (NPERR_BASE + 11)
#define NPERR_NO_DATA (NPERR_BASE + 12)
#define NPERR_STREAM_NOT_SEEKABLE (NPERR_BASE + 13)
#define NPERR_TIME_RANGE_NOT_SUPPORTED (NPERR_BASE + 14)
#define NPERR_MALFORMED_SITE (NPERR_BASE + 15)

/* Reasons a stream or URL request ended. */
#define NPRES_BASE 0
#define NPRES_DONE (NPRES_BASE + 0)
#define NPRES_NETWORK_ERR (NPRES_BASE + 1)
#define NPRES_USER_BREAK (NPRES_BASE + 2)

/* Flags of NPP_ClearSiteData. */
#define NP_CLEAR_ALL 0
#define NP_CLEAR_CACHE (1 << 0)

#ifdef __cplusplus
}
#endif
