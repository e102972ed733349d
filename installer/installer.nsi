; The players' installer: puts the launcher, its doctor and the game's files
; in one per-user folder, with shortcuts that start the launcher there.
; Built by the release tool (release/installer.py), which passes every value
; below with -D:
;   NAME          the launcher's file name, without .exe
;   PRODUCT       the product name, as players see it
;   FOLDER        the same, made fit for a file name (folder and shortcuts)
;   IDENTITY      company and product, made fit for a registry key's name:
;                 names the install's keys, so that two games built from
;                 one launcher never share them
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
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${IDENTITY}"
; What installs wrote, by exact name: files under the folder, files an
; update moved aside, and shortcuts. Kept apart from the Apps & features
; entry, which an uninstall removes at once.
!define OWN_KEY "Software\${IDENTITY}"
!define FILES_KEY "${OWN_KEY}\Installed files"
!define MOVED_KEY "${OWN_KEY}\Moved aside"
!define SHORTCUTS_KEY "${OWN_KEY}\Shortcuts"
; Each install raises this number while it holds the mutex; an uninstaller
; that waits for a running launcher looks under the mutex, and stops for
; good once the number is not the one it started with.
!define GENERATION "Generation"
!define MUTEX "Local\${IDENTITY} setup"

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
; "Play now", checked: the launcher as its shortcut starts it. Not shown,
; and so nothing started, in a silent install.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(PlayNow)"
!define MUI_FINISHPAGE_RUN_FUNCTION PlayNow
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
LangString PlayNow ${LANG_ENGLISH} "&Play now"
LangString PlayNow ${LANG_RUSSIAN} "&Играть сейчас"
LangString NotInstalled ${LANG_ENGLISH} "${PRODUCT} is not installed. Nothing was changed."
LangString NotInstalled ${LANG_RUSSIAN} "${PRODUCT} не установлена. Ничего не изменено."
LangString NotThisFolder ${LANG_ENGLISH} "This uninstaller is a copy: ${PRODUCT} is installed in $0. Nothing was changed. Uninstall the game from Apps & features, or with the uninstaller in its folder."
LangString NotThisFolder ${LANG_RUSSIAN} "Эта программа удаления — копия: ${PRODUCT} установлена в $0. Ничего не изменено. Удалите игру в разделе «Приложения», или программой удаления из её папки."

; The uninstaller goes inside the installer as it is once this command
; succeeds; without "= 0" a failure would be ignored.
!uninstfinalize '"${FINISH_UNINSTALLER}" "%1"' = 0

Var Mutex
Var Generation  ; the number this install wrote, or the one the uninstaller started with
Var Leftover    ; a free name for a file that is in use

; Fails the install: a message for a player who watches, a non-zero exit code
; for a silent one. $0: what could not be written.
!macro Fail
  MessageBox MB_ICONSTOP|MB_OK "$(CannotWrite)" /SD IDOK
  SetErrorLevel 2
  Quit
!macroend

!macro Lock
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${MUTEX}") p .s'
  Pop $Mutex
  System::Call 'kernel32::WaitForSingleObject(p $Mutex, i -1) i'
!macroend

!macro Unlock
  System::Call 'kernel32::ReleaseMutex(p $Mutex) i'
  System::Call 'kernel32::CloseHandle(p $Mutex) i'
!macroend

; A name read back from the registry is checked before anything is deleted
; by it. $R0: the name, relative to the folder it lies in; answers $R1: 1
; when it is a plain relative name (no "..", drive, colon or wildcard).
; What both the installer and the uninstaller do.
!macro SharedFunctions UN
Function ${UN}SafeName
  StrCpy $R1 0
  StrCpy $R2 $R0 1
  ${If} $R0 == ""
  ${OrIf} $R2 == "\"
  ${OrIf} $R2 == "/"
    Return
  ${EndIf}
  StrCpy $R2 0
  ${Do}
    StrCpy $R3 $R0 1 $R2
    ${IfThen} $R3 == "" ${|} ${ExitDo} ${|}
    StrCpy $R4 $R0 2 $R2
    ${If} $R4 == ".."
    ${OrIf} $R3 == ":"
    ${OrIf} $R3 == "*"
    ${OrIf} $R3 == "?"
    ${OrIf} $R3 == "<"
    ${OrIf} $R3 == ">"
    ${OrIf} $R3 == '"'
    ${OrIf} $R3 == "|"
      Return
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
  StrCpy $R1 1
FunctionEnd

; Deletes the shortcuts installs recorded but those in $R6, $R7 and $R8
; (the ones an install keeps), and forgets them. A recorded shortcut is
; deleted only where installs put shortcuts: the Desktop and the product's
; Start-menu folder.
Function ${UN}DeleteShortcuts
  StrCpy $2 0
  ${Do}
    EnumRegValue $1 HKCU "${SHORTCUTS_KEY}" $2
    ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    ${If} $1 == $R6
    ${OrIf} $1 == $R7
    ${OrIf} $1 == $R8
      IntOp $2 $2 + 1
      ${Continue}
    ${EndIf}
    ${ForEach} $3 0 1 + 1
      ${If} $3 == 0
        StrCpy $4 "$DESKTOP\"
      ${Else}
        StrCpy $4 "$SMPROGRAMS\${FOLDER}\"
      ${EndIf}
      StrLen $5 $4
      StrCpy $6 $1 $5
      StrCpy $R0 $1 "" $5
      Call ${UN}SafeName
      ${If} $6 == $4
      ${AndIf} $R1 == 1
        Delete "$1"
      ${EndIf}
    ${Next}
    DeleteRegValue HKCU "${SHORTCUTS_KEY}" $1
  ${Loop}
FunctionEnd

; Deletes the files updates moved aside, by their recorded names, and
; forgets those that are gone; answers in $3 how many are still in use.
Function ${UN}DeleteMovedAside
  StrCpy $2 0
  StrCpy $3 0
  ${Do}
    EnumRegValue $R0 HKCU "${MOVED_KEY}" $2
    ${IfThen} $R0 == "" ${|} ${ExitDo} ${|}
    Call ${UN}SafeName
    ${If} $R1 == 1
      Delete "$INSTDIR\$R0"
      ${If} ${FileExists} "$INSTDIR\$R0"
        IntOp $3 $3 + 1
        IntOp $2 $2 + 1
        ${Continue}
      ${EndIf}
    ${EndIf}
    DeleteRegValue HKCU "${MOVED_KEY}" $R0
  ${Loop}
FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; A file of ours that is in use (a running launcher, doctor or game) cannot
; be replaced, but it can be renamed: it runs on from its new name, recorded
; so that the next install or uninstall deletes it, and only it. $0: the
; file's path under the folder.
Function MoveAside
  ${IfNot} ${FileExists} "$INSTDIR\$0"
    Return
  ${EndIf}
  ClearErrors
  Delete "$INSTDIR\$0"
  ${IfNot} ${Errors}
    Return
  ${EndIf}
  StrCpy $Leftover 1
  ${While} ${FileExists} "$INSTDIR\$0.$Leftover.old"
    IntOp $Leftover $Leftover + 1
  ${EndWhile}
  ClearErrors
  Rename "$INSTDIR\$0" "$INSTDIR\$0.$Leftover.old"
  ${If} ${Errors}
    StrCpy $0 "$INSTDIR\$0"
    !insertmacro Fail
  ${EndIf}
  WriteRegStr HKCU "${MOVED_KEY}" "$0.$Leftover.old" ""
FunctionEnd

; Installs SOURCE as TARGET (relative to the folder) and records it.
!macro InstallFile SOURCE TARGET
  StrCpy $0 "${TARGET}"
  Call MoveAside
  ${GetParent} "$INSTDIR\${TARGET}" $1
  CreateDirectory "$1"
  ClearErrors
  File "/oname=$INSTDIR\${TARGET}" "${SOURCE}"
  ${If} ${Errors}
    StrCpy $0 "$INSTDIR\${TARGET}"
    !insertmacro Fail
  ${EndIf}
  WriteRegStr HKCU "${FILES_KEY}" "${TARGET}" ""
!macroend

; Makes the shortcut LINK to TARGET (under the folder), unless it is there
; already as an install made it: each one made costs a noticeable part of an
; update's time. Its record holds what it starts.
!macro Shortcut LINK TARGET
  ReadRegStr $1 HKCU "${SHORTCUTS_KEY}" "${LINK}"
  ${IfNot} ${FileExists} "${LINK}"
  ${OrIf} $1 != "$INSTDIR\${TARGET}"
    ClearErrors
    CreateShortcut "${LINK}" "$INSTDIR\${TARGET}" "" "$INSTDIR\${LAUNCHER}" 0
    ${If} ${Errors}
      StrCpy $0 "${LINK}"
      !insertmacro Fail
    ${EndIf}
    WriteRegStr HKCU "${SHORTCUTS_KEY}" "${LINK}" "$INSTDIR\${TARGET}"
  ${EndIf}
!macroend

Function .onInit
  ; Neither /D= nor an earlier install chose the folder: Windows' own folder
  ; for per-user programs, where it has one (Windows 7 and later).
  ${If} $INSTDIR == "$LOCALAPPDATA\Programs\${FOLDER}"
    GetKnownFolderPath $0 {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
    ${IfThen} $0 != "" ${|} StrCpy $INSTDIR "$0\${FOLDER}" ${|}
  ${EndIf}
FunctionEnd

Function PlayNow
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${LAUNCHER}"'
FunctionEnd

Section
  SetShellVarContext current
  ; A later install wins over an uninstaller still waiting for a launcher:
  ; once this number has changed, it touches nothing.
  !insertmacro Lock
  ReadRegDWORD $Generation HKCU "${OWN_KEY}" "${GENERATION}"
  IntOp $Generation $Generation + 1
  WriteRegDWORD HKCU "${OWN_KEY}" "${GENERATION}" $Generation
  !insertmacro Unlock
  ; No install of this product recorded: the first, which makes the Desktop
  ; shortcut; an update leaves one the player deleted deleted.
  ReadRegStr $9 HKCU "${UNINSTALL_KEY}" "InstallLocation"

  Call DeleteMovedAside
  !insertmacro InstallFile "${PROGRAMS}/${LAUNCHER}" "${LAUNCHER}"
  !insertmacro InstallFile "${PROGRAMS}/${DOCTOR}" "${DOCTOR}"
  !include "${GAME_FILES}"

  StrCpy $0 "${UNINSTALL_EXE}"
  Call MoveAside
  ClearErrors
  WriteUninstaller "$INSTDIR\${UNINSTALL_EXE}"
  ${If} ${Errors}
    StrCpy $0 "$INSTDIR\${UNINSTALL_EXE}"
    !insertmacro Fail
  ${EndIf}
  WriteRegStr HKCU "${FILES_KEY}" "${UNINSTALL_EXE}" ""

  ; The Start-menu shortcuts are put back on every install; the Desktop one
  ; on the first only, so that one the player deleted stays deleted. (The
  ; doctor's takes the name of this install's language.)
  StrCpy $R6 ""
  ${If} $9 == ""
  ${OrIf} ${FileExists} "$DESKTOP\${FOLDER}.lnk"
    StrCpy $R6 "$DESKTOP\${FOLDER}.lnk"
  ${EndIf}
  StrCpy $R7 "$SMPROGRAMS\${FOLDER}\${FOLDER}.lnk"
  StrCpy $R8 "$SMPROGRAMS\${FOLDER}\$(DoctorShortcut).lnk"
  Call DeleteShortcuts
  ; "Start in" is the current output folder: the launcher looks for the
  ; game's items in the folder it is started in.
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${FOLDER}"
  ${If} $R6 != ""
    !insertmacro Shortcut "$R6" "${LAUNCHER}"
  ${EndIf}
  !insertmacro Shortcut "$R7" "${LAUNCHER}"
  !insertmacro Shortcut "$R8" "${DOCTOR}"

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

; The uninstaller belongs to the install that wrote it: a copy run from any
; other folder (in Downloads, say) changes nothing. $INSTDIR is the folder
; it was started from (or the one _?= names).
Function un.onInit
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
    MessageBox MB_ICONSTOP|MB_OK "$(NotInstalled)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  GetFullPathName $1 "$INSTDIR"
  GetFullPathName $2 "$0"
  ${If} $1 != $2
    MessageBox MB_ICONSTOP|MB_OK "$(NotThisFolder)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; Deletes every file installs recorded, and the folders they made as they
; empty; answers in $3 how many are still there (in use). Its own file,
; when it runs in place (_?=), it leaves, and does not count.
Function un.DeleteRecorded
  Call un.DeleteMovedAside
  StrCpy $2 0
  ${Do}
    EnumRegValue $R0 HKCU "${FILES_KEY}" $2
    ${IfThen} $R0 == "" ${|} ${ExitDo} ${|}
    IntOp $2 $2 + 1
    Call un.SafeName
    ${IfThen} $R1 != 1 ${|} ${Continue} ${|}
    ${IfThen} "$INSTDIR\$R0" == $EXEPATH ${|} ${Continue} ${|}
    Delete "$INSTDIR\$R0"
    ${IfThen} ${FileExists} "$INSTDIR\$R0" ${|} IntOp $3 $3 + 1 ${|}
    ${GetParent} "$INSTDIR\$R0" $4
    ${DoWhile} $4 != $INSTDIR
      ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
      RMDir "$4"
      ${GetParent} "$4" $4
    ${Loop}
  ${Loop}
FunctionEnd

; One look, under the mutex: nothing is touched once a later install has run.
; Answers in $3 how many files are still in use, -1 when an install has run.
Function un.Look
  !insertmacro Lock
  ReadRegDWORD $0 HKCU "${OWN_KEY}" "${GENERATION}"
  ${If} $0 != $Generation
    StrCpy $3 -1
  ${Else}
    Call un.DeleteRecorded
    ${If} $3 == 0
      DeleteRegKey HKCU "${OWN_KEY}"
      RMDir "$INSTDIR"
    ${EndIf}
  ${EndIf}
  !insertmacro Unlock
FunctionEnd

Section Uninstall
  SetShellVarContext current
  ; Only what installs wrote: a player's own files, and the doctor's
  ; reports, stay.
  !insertmacro Lock
  ReadRegDWORD $Generation HKCU "${OWN_KEY}" "${GENERATION}"
  StrCpy $R6 ""
  StrCpy $R7 ""
  StrCpy $R8 ""
  Call un.DeleteShortcuts
  DeleteRegKey HKCU "${SHORTCUTS_KEY}"
  RMDir "$SMPROGRAMS\${FOLDER}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  !insertmacro Unlock
  Call un.Look
SectionEnd

; A launcher still running keeps its file until it exits: wait for that out
; of sight, a day at most, looking once a second.
Function un.onUninstSuccess
  ${If} $3 > 0
    HideWindow
    StrCpy $5 0
    ${Do}
      ${IfThen} $5 >= 86400 ${|} ${ExitDo} ${|}
      Sleep 1000
      IntOp $5 $5 + 1
      Call un.Look
    ${LoopWhile} $3 > 0
  ${EndIf}
FunctionEnd
