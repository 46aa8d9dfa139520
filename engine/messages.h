// Every text and caption the user can see from the installation run.
#pragma once

#define MSG_SCANNING_FILES "Scanning files..."
#define MSG_SCANNING_FILE "Scanning file: "
#define MSG_EXTRACTING_FILE "Extracting file: "

#define CAPTION_ERROR_1 "Vexa Installation Error [1]"
#define CAPTION_ERROR_3 "Vexa Installation Error [3]"
#define CAPTION_ERROR_4 "Vexa Installation Error [4]"
#define CAPTION_ERROR_5 "Vexa Installation Error [5]"
#define CAPTION_ERROR_6 "Vexa Installation Error [6]"
#define CAPTION_ERROR_7 "Vexa Installation Error [7]"
#define CAPTION_ERROR_9 "Vexa Installation Error [9]"
#define CAPTION_ERROR_11 "Vexa Installation Error [11]"
#define CAPTION_ERROR_13 "Vexa Installation Error [13]"
#define CAPTION_ERROR_14 "Vexa Installation Error [14]"

#define TEXT_ERROR_FOLDER                                                 \
  "There seems to be a problem creating the directory you specified.\n\n" \
  "Please try using a different directory name!"
#define TEXT_ERROR_READ_CARRIER                                    \
  "There seems to be a problem reading the installation file.\n\n" \
  "Please try running the installation program again!"
#define TEXT_ERROR_COPY                                                 \
  "There seems to be a problem copying files to their destination.\n\n" \
  "Please try running the installation program again!"
#define TEXT_ERROR_BACKUP_FOLDER                                   \
  "There seems to be a problem creating the backup directory.\n\n" \
  "Please try installing to a different directory!"
#define TEXT_ERROR_BACKUP_MOVE                                      \
  "There seems to be a problem backing up your original files.\n\n" \
  "Please try installing to a different directory!"
#define TEXT_ERROR_EXTRACT                                                       \
  "There seems to be a problem extracting files from the installation file.\n\n" \
  "Please try running the installation program again!"
#define TEXT_ERROR_CORRUPT                         \
  "The installation file seems to be corrupt!\n\n" \
  "Please try running the installation program again or download a new version!"

// The wizard, start-up and program group.
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
