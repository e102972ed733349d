; The players' installer: puts the launcher, its doctor and the game's files
; in one per-user folder, with shortcuts that start the launcher there.
; Built by scripts/release.sh, which passes every value below with -D:
;   NAME          the launcher's file name, without .exe
;   PRODUCT       the product name, as players see it
;   FOLDER        the same, made fit for a file name (folder and shortcuts)
;   VERSION       four numbers
;   COMPANY, COPYRIGHT   version texts, possibly empty
;   ICON          the launcher's icon
;   PROGRAMS      the folder holding NAME.exe and NAME-doctor.exe
;   GAME_FILES    an include that installs the game's files (InstallFile lines)
;   OUTFILE       where the installer goes
;   FINISH_UNINSTALLER  a command given the uninstaller's file: it signs it
;                 when signing, and keeps a copy, before it goes inside
Unicode true
; NAME-setup.exe: a name Windows' installer detection would elevate, but the
; manifest asks for no elevation, which turns that detection off.
!pragma warning disable 9000
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
; Reproducible: no file times, nothing that names when or where it was built.
SetDateSave off
AllowSkipFiles off
SetOverwrite on
CRCCheck on

!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh

!define LAUNCHER "${NAME}.exe"
!define DOCTOR "${NAME}-doctor.exe"
!define UNINSTALL_EXE "${NAME}-uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
; What every install wrote: paths under the folder, and shortcuts. Kept
; apart from the Apps & features entry, which an uninstall removes at once.
!define FILES_KEY "Software\${NAME}\Installed files"
!define SHORTCUTS_KEY "Software\${NAME}\Shortcuts"
!define OWN_KEY "Software\${NAME}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${FOLDER}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The player's UI language picks the pages' language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
!if "${COMPANY}" != ""
  VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${COMPANY}"
!endif
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${COPYRIGHT}"

LangString CannotWrite ${LANG_ENGLISH} "Setup could not write $0. Nothing else was changed after it. Close the game, then run setup again."
LangString CannotWrite ${LANG_RUSSIAN} "Программа установки не смогла записать $0. Дальше ничего не изменено. Закройте игру и запустите установку ещё раз."
LangString DoctorShortcut ${LANG_ENGLISH} "${FOLDER} - report for support"
LangString DoctorShortcut ${LANG_RUSSIAN} "${FOLDER} - отчёт для поддержки"

; The uninstaller goes inside the installer as it is once this command
; succeeds; without "= 0" a failure would be ignored.
!uninstfinalize '"${FINISH_UNINSTALLER}" "%1"' = 0

Var Leftover  ; a free name for a file that is in use

; Fails the install: a message for a player who watches, a non-zero exit code
; for a silent one. $0: what could not be written.
!macro Fail
  MessageBox MB_ICONSTOP|MB_OK "$(CannotWrite)" /SD IDOK
  SetErrorLevel 2
  Quit
!macroend

; A file of ours that is in use (a running launcher, doctor or game) cannot
; be replaced, but it can be renamed: it runs on from its new name, and the
; next install or uninstall deletes it. $0: the file's full path.
Function MoveAside
  ${IfNot} ${FileExists} "$0"
    Return
  ${EndIf}
  ClearErrors
  Delete "$0"
  ${IfNot} ${Errors}
    Return
  ${EndIf}
  StrCpy $Leftover 1
  ${While} ${FileExists} "$0.$Leftover.old"
    IntOp $Leftover $Leftover + 1
  ${EndWhile}
  ClearErrors
  Rename "$0" "$0.$Leftover.old"
  ${If} ${Errors}
    !insertmacro Fail
  ${EndIf}
FunctionEnd

; Installs SOURCE as TARGET (relative to the folder) and records it.
!macro InstallFile SOURCE TARGET
  StrCpy $0 "$INSTDIR\${TARGET}"
  Call MoveAside
  ${GetParent} "$0" $1
  CreateDirectory "$1"
  ClearErrors
  File "/oname=$0" "${SOURCE}"
  ${If} ${Errors}
    !insertmacro Fail
  ${EndIf}
  WriteRegStr HKCU "${FILES_KEY}" "${TARGET}" ""
!macroend

!macro Shortcut LINK TARGET
  ClearErrors
  CreateShortcut "${LINK}" "$INSTDIR\${TARGET}" "" "$INSTDIR\${LAUNCHER}" 0
  ${If} ${Errors}
    StrCpy $0 "${LINK}"
    !insertmacro Fail
  ${EndIf}
  WriteRegStr HKCU "${SHORTCUTS_KEY}" "${LINK}" ""
!macroend

; Deletes what earlier installs left behind: files renamed while in use.
Function DeleteLeftovers
  StrCpy $2 0
  ${Do}
    EnumRegValue $1 HKCU "${FILES_KEY}" $2
    ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    Delete "$INSTDIR\$1.*.old"
    IntOp $2 $2 + 1
  ${Loop}
FunctionEnd

; Deletes the shortcuts installs made (their names follow the language of the
; install that made them).
!macro DeleteShortcuts
  StrCpy $2 0
  ${Do}
    EnumRegValue $1 HKCU "${SHORTCUTS_KEY}" $2
    ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    Delete "$1"
    IntOp $2 $2 + 1
  ${Loop}
  DeleteRegKey HKCU "${SHORTCUTS_KEY}"
!macroend

Function .onInit
  ; Neither /D= nor an earlier install chose the folder: Windows' own folder
  ; for per-user programs, where it has one (Windows 7 and later).
  ${If} $INSTDIR == "$LOCALAPPDATA\Programs\${FOLDER}"
    System::Call 'shell32::SHGetKnownFolderPath(g "{5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}", i 0x8000, p 0, *p .r1) i .r0'
    ${If} $0 == 0
      System::Call '*$1(&w${NSIS_MAX_STRLEN} .r2)'
      StrCpy $INSTDIR "$2\${FOLDER}"
    ${EndIf}
    System::Call 'ole32::CoTaskMemFree(p r1)'
  ${EndIf}
FunctionEnd

Section
  SetShellVarContext current
  Call DeleteLeftovers
  !insertmacro InstallFile "${PROGRAMS}/${LAUNCHER}" "${LAUNCHER}"
  !insertmacro InstallFile "${PROGRAMS}/${DOCTOR}" "${DOCTOR}"
  !include "${GAME_FILES}"

  StrCpy $0 "$INSTDIR\${UNINSTALL_EXE}"
  Call MoveAside
  ClearErrors
  WriteUninstaller "$0"
  ${If} ${Errors}
    !insertmacro Fail
  ${EndIf}
  WriteRegStr HKCU "${FILES_KEY}" "${UNINSTALL_EXE}" ""

  ; "Start in" is the current output folder: the launcher looks for the
  ; game's items in the folder it is started in.
  SetOutPath "$INSTDIR"
  !insertmacro DeleteShortcuts
  CreateDirectory "$SMPROGRAMS\${FOLDER}"
  !insertmacro Shortcut "$DESKTOP\${FOLDER}.lnk" "${LAUNCHER}"
  !insertmacro Shortcut "$SMPROGRAMS\${FOLDER}\${FOLDER}.lnk" "${LAUNCHER}"
  !insertmacro Shortcut "$SMPROGRAMS\${FOLDER}\$(DoctorShortcut).lnk" "${DOCTOR}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  !if "${COMPANY}" != ""
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  !endif
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${LAUNCHER}",0'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALL_EXE}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALL_EXE}" /S'
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Deletes every file an install recorded, and the folders they made as they
; empty; answers in $3 how many are still there (in use).
Function un.DeleteRecorded
  StrCpy $2 0
  StrCpy $3 0
  ${Do}
    EnumRegValue $1 HKCU "${FILES_KEY}" $2
    ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    Delete "$INSTDIR\$1"
    Delete "$INSTDIR\$1.*.old"
    ${IfThen} ${FileExists} "$INSTDIR\$1" ${|} IntOp $3 $3 + 1 ${|}
    ${GetParent} "$INSTDIR\$1" $4
    ${DoWhile} $4 != $INSTDIR
      ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
      RMDir "$4"
      ${GetParent} "$4" $4
    ${Loop}
    IntOp $2 $2 + 1
  ${Loop}
FunctionEnd

Section Uninstall
  SetShellVarContext current
  ; Only what installs wrote: a player's own files, and the doctor's
  ; reports, stay.
  Call un.DeleteRecorded
  !insertmacro DeleteShortcuts
  RMDir "$SMPROGRAMS\${FOLDER}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  RMDir "$INSTDIR"
SectionEnd

; A launcher still running keeps its file until it exits: wait for that out
; of sight (this copy of the uninstaller runs from the temporary folder), a
; day at most, then finish.
Function un.onUninstSuccess
  Call un.DeleteRecorded
  ${If} $3 > 0
    HideWindow
    StrCpy $5 0
    ${Do}
      ${IfThen} $3 == 0 ${|} ${ExitDo} ${|}
      ${IfThen} $5 >= 86400 ${|} ${ExitDo} ${|}
      Sleep 1000
      IntOp $5 $5 + 1
      Call un.DeleteRecorded
    ${Loop}
  ${EndIf}
  DeleteRegKey HKCU "${OWN_KEY}"
  RMDir "$INSTDIR"
FunctionEnd
