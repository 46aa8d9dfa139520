// Every text and caption the user can see from the installation run; the wizard's own
// texts are in resources/texts.h.
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
