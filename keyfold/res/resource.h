// Resource ids of Keyfold, one header for all kinds.
#pragma once

// Strings
#define IDS_KEY_PROVIDER_NAME 102
#define IDS_APP_TITLE 57344  // the application title (AFX_IDS_APP_TITLE)
