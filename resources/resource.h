// Identifiers of the installer's resources and of the controls in its two dialog templates.
// The resource script includes this file too, so it holds plain #defines only.
#pragma once

// The folder dialog's standard controls: stc1, lst2, cmb2, edt1, ... The release tool
// reads the resource numbers only, on any platform.
#if defined(_WIN32) || defined(RC_INVOKED)
#include <dlgs.h>
#endif

// Resources. The wizard's template is named, not numbered: INSTALL_DLG.
#define IDI_PROGRAM 1    // the program's icon
#define IDI_WIZARD 2     // painted at the wizard's icon anchor on every page
#define IDR_LICENCE 3    // RCDATA: the licence text
#define IDR_ARCHIVE 4    // RCDATA: the payload archive
#define IDD_FOLDER 1537  // the folder dialog's template

// The wizard. A page is the run of consecutive identifiers from its first control up to
// the first identifier without a control, so the numbers within a page must stay gapless.
#define IDC_ICON_ANCHOR 120
#define IDC_BACK 121
// Welcome page.
#define IDC_WELCOME 130
#define IDC_WELCOME_RUNNING 131
#define IDC_WELCOME_CLOSE 132
#define IDC_WELCOME_NEXT 133
// Licence page.
#define IDC_LICENCE_INTRO 140
#define IDC_LICENCE_TEXT 141
#define IDC_LICENCE_QUESTION 142
// Options page; its folder box (150 to 154) stays on the progress page.
#define IDC_OPTIONS_INTRO 150
#define IDC_OPTIONS_BROWSE_HINT 151
#define IDC_DESTINATION 152
#define IDC_BROWSE 153
#define IDC_DESTINATION_BOX 154
#define IDC_OPTIONS_MORE 155
#define IDC_MAKE_BACKUPS 156
#define IDC_KEEP_SETTINGS 157
#define IDC_CREATE_ICONS 158
#define IDC_INSTALL_HINT 159
// Progress page: the status text and the two hidden boxes the bars are painted over.
#define IDC_STATUS 170
#define IDC_FILE_BAR 171
#define IDC_PROGRESS_LABEL 172
#define IDC_INSTALL_BAR 173
// Finish page.
#define IDC_FINISHED 180
#define IDC_FINISHED_RUN_HINT 181
#define IDC_FINISHED_HELP_HINT 182
#define IDC_READ_HELP 183
#define IDC_LAUNCH 184
#define IDC_FINISHED_CLOSE 185

// The folder dialog: one field of its own; the rest are the platform dialog's (<dlgs.h>).
// stc1, a label there, is an edit field here, so that the hook hears when it changes.
#define IDC_FOLDER_FIELD 102
