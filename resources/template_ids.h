/* Dialog template indexes and the control IDs the setup program looks for.
   Included by templates.rc (compiled with windres) and by the builder's C++
   code, so it holds nothing but #define lines. */
#ifndef PAKWIZ_TEMPLATE_IDS_H
#define PAKWIZ_TEMPLATE_IDS_H

/* Template indexes = DIALOG resource IDs. */
#define TPL_MAIN_WINDOWED 0
#define TPL_MAIN_FULL_SCREEN 1
#define TPL_DESTINATION 2
#define TPL_INFORMATION 3
#define TPL_PROGRESS 4
#define TPL_WELCOME_READY 5
#define TPL_FINISH 6
#define TPL_FOLDER_BROWSER 7
#define TPL_LANGUAGE 8
#define TPL_COUNT 9

/* Main dialog. Next and Cancel are IDOK and IDCANCEL. */
#define IDC_NEXT 1
#define IDC_CANCEL 2
#define IDC_PAGE_ANCHOR 1006
#define IDC_BACK 1007
#define IDC_BILLBOARD 1011
#define IDC_PANEL 1012

/* Standard page texts: strings 1 to 4 of the page's table. */
#define IDC_TEXT1 1000
#define IDC_TEXT2 1001
#define IDC_TEXT3 1002
#define IDC_TEXT4 1003

/* Destination page. */
#define IDC_FOLDER 1004
#define IDC_BROWSE 1005
#define IDC_SPACE_NEEDED 1016
#define IDC_SPACE_NEEDED_LABEL 1017
#define IDC_SPACE_FREE_LABEL 1018
#define IDC_SPACE_FREE 1019

/* Progress page. */
#define IDC_CURRENT_FILE 1008
#define IDC_PROGRESS_BAR 1009
#define IDC_PERCENT 1010

/* Finish page. */
#define IDC_DOCUMENT 1014
#define IDC_START_PROGRAM 1015

/* Language page: one radio button per language block. */
#define IDC_LANGUAGE1 1021
#define IDC_LANGUAGE6 1026

/* Folder browser: the chosen folder and its label, and the controls the
   old-style save-file common dialog expects in a custom template. */
#define IDC_BROWSER_FOLDER 101
#define IDC_BROWSER_LABEL 1009
#define IDC_CD_CURRENT_DIR 1088 /* stc1 */
#define IDC_CD_TYPE_LABEL 1089  /* stc2 */
#define IDC_CD_NAME_LABEL 1090  /* stc3 */
#define IDC_CD_DRIVE_LABEL 1091 /* stc4 */
#define IDC_CD_FILE_LIST 1120   /* lst1 */
#define IDC_CD_FOLDER_LIST 1121 /* lst2 */
#define IDC_CD_TYPE_COMBO 1136  /* cmb1 */
#define IDC_CD_DRIVE_COMBO 1137 /* cmb2 */
#define IDC_CD_FILE_NAME 1152   /* edt1 */

#endif
