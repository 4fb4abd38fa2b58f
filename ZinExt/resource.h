// Resource ids of ZinExt.dll.
#pragma once

#define IDR_ZINEXT_APPID 4        // registration script: the application id
#define IDR_ZINSHLEXT 102         // registration script: the class and the handler
#define IDI_ZINEXT_MENU 205       // the context-menu entry's 16x16 icon
#define VS_VERSION_INFO_ID 1
