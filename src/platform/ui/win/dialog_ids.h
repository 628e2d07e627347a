// Resource and control ids of the Windows dialogs (dialogs.rc), shared by
// the resource script and the code that fills the dialogs. Plain #defines:
// the resource compiler reads this file too.
#ifndef QUILLMARK_PLATFORM_UI_WIN_DIALOG_IDS_H_
#define QUILLMARK_PLATFORM_UI_WIN_DIALOG_IDS_H_

#define IDD_QM_CHOOSER 202
#define IDD_QM_PIN 203
#define IDD_QM_QUESTION 204
#define IDD_QM_REVIEW 205
#define IDD_QM_CHOOSER_WEB 206

#define IDC_QM_ORIGIN 210
#define IDC_QM_PROMPT 211
#define IDC_QM_LIST 212
#define IDC_QM_NOTICE 213
#define IDC_QM_VIEW 214

#define IDC_QM_PIN_LABEL 220
#define IDC_QM_PIN_EDIT 221
#define IDC_QM_PIN_TRIES 222

#define IDC_QM_TEXT 230
#define IDC_QM_ANSWER1 241
#define IDC_QM_ANSWER2 242
#define IDC_QM_ANSWER3 243

// The review pane (review_pane.h) and the frame of a page's own words.
#define IDC_QM_ACTION 250
#define IDC_QM_OWNER 251
#define IDC_QM_LENGTH 252
#define IDC_QM_WARNING 253
#define IDC_QM_REVIEW_TEXT 254
#define IDC_QM_FILES 255
#define IDC_QM_PAGE_FRAME 256
#define IDC_QM_PAGE_TITLE 257

#endif  // QUILLMARK_PLATFORM_UI_WIN_DIALOG_IDS_H_
