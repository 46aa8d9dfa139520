// The texts of the wizard, the start-up and the program group. The resource script
// includes this file too, for the texts that both the templates and the code show.
#pragma once

#define TEXT_TITLE "Vexa v5.61 32bit Installation"
#define TEXT_WELCOME                                                                              \
  "Welcome to the Vexa installation program! This program will install Vexa v5.61 32bit on your " \
  "computer."
#define TEXT_NEXT "&Next >"
#define TEXT_CANCEL "Cancel"
#define TEXT_YES "&Yes"
#define TEXT_NO "&No"
#define TEXT_INSTALL "&Install"
#define TEXT_ABORT "Abort"
#define TEXT_FINISH "&Finish"
#define TEXT_ABORT_QUESTION "Are you sure you want to abort the installation?"
#define CAPTION_WARNING "Vexa Installation Warning"
#define CAPTION_ERROR_15 "Vexa Installation Error [15]"
#define TEXT_ERROR_ICONS                                                      \
  "There seems to be a problem adding Vexa icons to the Program Manager!\n\n" \
  "Do you want me to try again?"
#define TEXT_NO_DIALOG "Unable to display dialog"
#define CAPTION_SYSTEM_ERROR "System Error"
#define TEXT_SELECT_FOLDER "Vexa Select Folder"
