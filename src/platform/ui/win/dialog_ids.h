// Resource and control ids of the Windows dialogs (dialogs.rc), shared by
// the resource script and the code that fills the dialogs. Plain #defines:
// the resource compiler reads this file too.
#ifndef QUILLMARK_PLATFORM_UI_WIN_DIALOG_IDS_H_
#define QUILLMARK_PLATFORM_UI_WIN_DIALOG_IDS_H_

#define IDD_QM_CHOOSER 202
#define IDD_QM_PIN 203
#define IDD_QM_QUESTION 204

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

#endif  // QUILLMARK_PLATFORM_UI_WIN_DIALOG_IDS_H_
