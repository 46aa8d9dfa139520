// Every text and caption the installer shows, in the order the user meets them. The
// resource script reads this file for the dialog templates, and the code for everything it
// writes or asks itself, so that each text stands here once.
#pragma once

// The program's title: the main window, its class and the wizard's caption once it is up.
#define TEXT_TITLE "Vexa v5.61 32bit Installation"

// The installation folder's name below the drive root.
#define PRODUCT_FOLDER "vexa"

// The wizard's template: its caption until the title replaces it, the buttons and the
// pages, each page's texts top to bottom.
#define TEXT_WIZARD_CAPTION "Vexa Installer"
#define TEXT_NEXT "&Next >"
#define TEXT_CANCEL "Cancel"
#define TEXT_YES "&Yes"
#define TEXT_NO "&No"
#define TEXT_INSTALL "&Install"
#define TEXT_ABORT "Abort"
#define TEXT_FINISH "&Finish"
#define TEXT_BACK "< &Back"

// Welcome page.
#define TEXT_WELCOME                                                                              \
  "Welcome to the Vexa installation program! This program will install Vexa v5.61 32bit on your " \
  "computer."
#define TEXT_WELCOME_RUNNING                                                                       \
  "If you have a previous copy of Vexa installed, please make sure that it is not running during " \
  "the installation."
#define TEXT_WELCOME_CLOSE \
  "It is also advised that you close all other applications before installing Vexa."
#define TEXT_WELCOME_NEXT "To continue, please click the Next button."

// Licence page (the licence itself is RCDATA 3).
#define TEXT_LICENCE_INTRO                                                                      \
  "Please read the following license agreement before installing Vexa. You can scroll down to " \
  "view the rest of the agreement."
#define TEXT_LICENCE_QUESTION                                                                   \
  "Do you accept the terms of this license agreement? If you do, please click the Yes button, " \
  "otherwise click No."

// Options page.
#define TEXT_OPTIONS_INTRO "Vexa will be installed into the folder shown below."
#define TEXT_OPTIONS_BROWSE_HINT                                                                 \
  "If you would like to install Vexa into a different folder, click on browse and select a new " \
  "folder."
#define TEXT_DESTINATION_BOX "Destination folder:"
#define TEXT_BROWSE "&Browse"
#define TEXT_OPTIONS_MORE "You can also change the following options:"
#define TEXT_MAKE_BACKUPS "&Make Backups of any existing Vexa files"
#define TEXT_KEEP_SETTINGS "&Keep your existing Vexa settings and ini files"
#define TEXT_CREATE_ICONS "&Create Vexa Shortcut icons"
#define TEXT_INSTALL_HINT                                                                        \
  "Once you're ready to install Vexa, click the Install button to continue, or click Cancel to " \
  "exit."

// Progress page: the template's status text, then what the run writes there.
#define TEXT_STATUS "Scanning..."
#define TEXT_PROGRESS_LABEL "Install Progress:"
#define MSG_SCANNING_FILES "Scanning files..."
#define MSG_SCANNING_FILE "Scanning file: "
#define MSG_EXTRACTING_FILE "Extracting file: "

// Finish page.
#define TEXT_FINISHED "Installation of Vexa was successful!"
#define TEXT_FINISHED_RUN_HINT \
  "After you close this window, you can run Vexa, connect to the internet, and start chatting!"
#define TEXT_FINISHED_HELP_HINT                                                                  \
  "If you are new to Vexa, you might want to read the first few sections of the Vexa help file " \
  "before you start. The sections are short and give a good general introduction."
#define TEXT_READ_HELP "&Read Vexa Help file"
#define TEXT_LAUNCH "&Launch Vexa"
#define TEXT_FINISHED_CLOSE "To end the installation, please click the Finish button."

// The folder dialog's template and caption.
#define TEXT_SELECT_FOLDER "Vexa Select Folder"
#define TEXT_FOLDER_LABEL "&Install Vexa into this folder:"
#define TEXT_FOLDER_FOLDERS "&Folders:"
#define TEXT_FOLDER_DRIVES "Dri&ves:"
#define TEXT_OK "OK"

// The error boxes: caption "[n]" names the place of failure, the text says what went wrong,
// then what to do.
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
#define CAPTION_ERROR_15 "Vexa Installation Error [15]"

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
#define TEXT_ERROR_ICONS                                                      \
  "There seems to be a problem adding Vexa icons to the Program Manager!\n\n" \
  "Do you want me to try again?"

// The questions, and the box shown when the wizard cannot be shown at all.
#define CAPTION_WARNING "Vexa Installation Warning"
#define TEXT_ABORT_QUESTION "Are you sure you want to abort the installation?"
#define CAPTION_SYSTEM_ERROR "System Error"
#define TEXT_NO_DIALOG "Unable to display dialog"
