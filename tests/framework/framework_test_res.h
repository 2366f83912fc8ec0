// Resources of the framework tests' own fixtures.
#pragma once

#define IDD_TEXT_DIALOG 200
#define IDC_TEXT_EDIT 201
#define IDD_TEXT_FORM 210
#define IDC_FORM_EDIT 211
#define IDR_TEST_FRAME 220

#define ID_CMD_VIEW 40001      // handled by the view, disabled by its enabling handler
#define ID_CMD_DOC 40002       // handled by the document; grayed in the resource
#define ID_CMD_NONE 40003      // handled by nobody
#define ID_CMD_UPDATE 40004    // an enabling handler only, which enables it
#define ID_CMD_FRAME 40005     // handled by the frame
#define ID_CMD_APP 40006       // handled by the application
#define ID_CMD_SHARED 40007    // handled by view and frame: the view wins
