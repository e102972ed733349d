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
;   ENGINE        the folder holding setupengine.dll, the file work's engine
;   NEEDED        the bytes the new files take, with room to spare
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
!addplugindir /x86-unicode "${ENGINE}"

!define LAUNCHER "${NAME}.exe"
!define DOCTOR "${NAME}-doctor.exe"
!define UNINSTALL_EXE "${NAME}-uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${IDENTITY}"
; What installs wrote: the engine keeps the records of files under the
; folder and of files an update moved aside; the script those of shortcuts
; (by their name under their known folder: "Desktop\..." or "Programs\...").
; Kept apart from the Apps & features entry, which an uninstall removes once
; the files it can delete are gone.
!define OWN_KEY "Software\${IDENTITY}"
!define SHORTCUTS_KEY "${OWN_KEY}\Shortcuts"
; New files go here first, in the game's folder (so on its volume): the
; engine then puts them in place by renames alone, or puts back the old ones.
!define STAGING "$INSTDIR\.setup-new"
; Each install raises this number while it holds the mutex; an uninstaller
; that waits for a running launcher looks under the mutex, and stops for
; good once the number is not the one it started with.
!define GENERATION "Generation"
!define MUTEX "Local\${IDENTITY} setup"
; The doctor's shortcut in every language an install may have named it.
!define DOCTOR_LINK_EN "${FOLDER} - report for support"
!define DOCTOR_LINK_RU "${FOLDER} - отчёт для поддержки"

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
; Told another folder while the game lies whole in its own: refused there.
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
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

LangString CannotWrite ${LANG_ENGLISH} "Setup could not write $Where. Nothing was changed. Close the game, then run setup again."
LangString CannotWrite ${LANG_RUSSIAN} "Программа установки не смогла записать $Where. Ничего не изменено. Закройте игру и запустите установку ещё раз."
LangString NoSpace ${LANG_ENGLISH} "There is not enough free space on drive $Where: setup needs $Number MB there. Nothing was changed. Free some space on it, then run setup again."
LangString NoSpace ${LANG_RUSSIAN} "На диске $Where недостаточно свободного места: программе установки нужно там $Number МБ. Ничего не изменено. Освободите место на этом диске и запустите установку ещё раз."
LangString FileHeld ${LANG_ENGLISH} "Setup could not replace $Where: another program is using it. Nothing was changed. Close the program that uses it, then run setup again."
LangString FileHeld ${LANG_RUSSIAN} "Программа установки не смогла заменить $Where: файл использует другая программа. Ничего не изменено. Закройте программу, которая его использует, и запустите установку ещё раз."
LangString NoShortcut ${LANG_ENGLISH} "${PRODUCT} is installed, but setup could not write $Where. Run setup again."
LangString NoShortcut ${LANG_RUSSIAN} "${PRODUCT} установлена, но программа установки не смогла записать $Where. Запустите установку ещё раз."
LangString DoctorShortcut ${LANG_ENGLISH} "${DOCTOR_LINK_EN}"
LangString DoctorShortcut ${LANG_RUSSIAN} "${DOCTOR_LINK_RU}"
LangString PlayNow ${LANG_ENGLISH} "&Play now"
LangString PlayNow ${LANG_RUSSIAN} "&Играть сейчас"
LangString AlreadyInstalled ${LANG_ENGLISH} "${PRODUCT} is already installed in $Installed. Nothing was changed. To update it, install it into that folder; to put it elsewhere, uninstall it first."
LangString AlreadyInstalled ${LANG_RUSSIAN} "${PRODUCT} уже установлена в $Installed. Ничего не изменено. Чтобы обновить игру, установите её в эту папку; чтобы перенести её, сначала удалите её."
LangString NotInstalled ${LANG_ENGLISH} "${PRODUCT} is not installed. Nothing was changed."
LangString NotInstalled ${LANG_RUSSIAN} "${PRODUCT} не установлена. Ничего не изменено."
LangString NotThisFolder ${LANG_ENGLISH} "This uninstaller is a copy: ${PRODUCT} is installed in $Installed. Nothing was changed. Uninstall the game from Apps & features, or with the uninstaller in its folder."
LangString NotThisFolder ${LANG_RUSSIAN} "Эта программа удаления — копия: ${PRODUCT} установлена в $Installed. Ничего не изменено. Удалите игру в разделе «Приложения», или программой удаления из её папки."
LangString NoInstallHere ${LANG_ENGLISH} "This uninstaller is not in the folder of ${PRODUCT}. Nothing was changed. Run the uninstaller that is in the game's folder."
LangString NoInstallHere ${LANG_RUSSIAN} "Эта программа удаления находится не в папке ${PRODUCT}. Ничего не изменено. Запустите программу удаления из папки игры."

; The uninstaller goes inside the installer as it is once this command
; succeeds; without "= 0" a failure would be ignored.
!uninstfinalize '"${FINISH_UNINSTALLER}" "%1"' = 0

; Values pass through these, never through a register: each function names
; what it reads and what it answers.
Var Mutex
Var Generation    ; the number this install wrote, or the one the uninstaller started with
Var Installed     ; the folder the installs recorded
Var Holds         ; the engine's Holds answer
Var Status        ; the engine's answer: done, space, held or failed
Var Where         ; what could not be written: a file, or a drive
Var Number        ; megabytes needed, files still in use, or a Windows error
Var Target        ; a shortcut's record
Var Name          ; a recorded name
Var Safe          ; SafeName's answer
Var Keep1         ; shortcuts ForgetShortcuts keeps
Var Keep2
Var Keep3
Var InUse         ; un.Look's answer: files still there, in use
Var Link          ; a shortcut's path
Var IsOurs        ; ShortcutIsOurs' answer
Var Index
Var Parent
Var Char
Var Pos
Var Scratch
Var Scratch2
Var Com
Var Com2

; The engine's answer to its last call, which it left on the stack.
!macro EngineAnswer
  Pop $Status
  Pop $Where
  Pop $Number
!macroend

; Fails the install, changing nothing: what was staged goes. A message for a
; player who watches, a non-zero exit code for a silent one. $Where: what
; could not be written.
!macro Fail
  setupengine::Abandon "$INSTDIR"
  MessageBox MB_ICONSTOP|MB_OK "$(CannotWrite)" /SD IDOK
  SetErrorLevel 2
  Quit
!macroend

; Fails the install on any answer of the engine but "done", with the message
; for its cause; the engine has put everything back as it was.
!macro Checked
  !insertmacro EngineAnswer
  ${If} $Status != "done"
    Call EngineFailed
  ${EndIf}
!macroend

; Fails once the game is in place: a shortcut or its record could not be made.
!macro FailAfter
  MessageBox MB_ICONSTOP|MB_OK "$(NoShortcut)" /SD IDOK
  SetErrorLevel 2
  Quit
!macroend

; Writes a shortcut's record, failing the install when it cannot: a lost
; record is a shortcut no uninstaller ever deletes.
!macro Record KEY NAME VALUE
  ClearErrors
  WriteRegStr HKCU "${KEY}" "${NAME}" "${VALUE}"
  ${If} ${Errors}
    StrCpy $Where "HKEY_CURRENT_USER\${KEY}"
    !insertmacro FailAfter
  ${EndIf}
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

; Whether FOLDER holds our install: its launcher and doctor are the ones an
; install recorded. Answers $Holds, 1 or 0.
!macro Holds FOLDER
  setupengine::Holds "${FOLDER}" "${OWN_KEY}" "${UNINSTALL_KEY}" "${LAUNCHER}" "${DOCTOR}"
  Pop $Holds
!macroend

; What both the installer and the uninstaller do.
!macro SharedFunctions UN
; A name read back from the registry is checked before anything is deleted
; by it. $Name, relative to the folder it lies in; answers $Safe: 1 when it
; is a plain relative name (no "..", drive, colon or wildcard).
Function ${UN}SafeName
  StrCpy $Safe 0
  StrCpy $Char $Name 1
  ${If} $Name == ""
  ${OrIf} $Char == "\"
  ${OrIf} $Char == "/"
    Return
  ${EndIf}
  StrCpy $Pos 0
  ${Do}
    StrCpy $Char $Name 1 $Pos
    ${IfThen} $Char == "" ${|} ${ExitDo} ${|}
    StrCpy $Scratch $Name 2 $Pos
    ${If} $Scratch == ".."
    ${OrIf} $Char == ":"
    ${OrIf} $Char == "*"
    ${OrIf} $Char == "?"
    ${OrIf} $Char == "<"
    ${OrIf} $Char == ">"
    ${OrIf} $Char == '"'
    ${OrIf} $Char == "|"
      Return
    ${EndIf}
    IntOp $Pos $Pos + 1
  ${Loop}
  StrCpy $Safe 1
FunctionEnd

; Whether the shortcut $Link starts our launcher or doctor, in the folder
; this runs for or in the recorded one; its target read through
; IShellLinkW::GetPath, compared without regard to case. Answers $IsOurs.
Function ${UN}ShortcutIsOurs
  StrCpy $IsOurs 0
  ${IfNot} ${FileExists} $Link
    Return
  ${EndIf}
  StrCpy $Scratch ""
  ; One value out of each call, on the stack.
  System::Call "ole32::CoCreateInstance(g '{00021401-0000-0000-C000-000000000046}', p 0, i 1, g '{000214F9-0000-0000-C000-000000000046}', *p .s) i"
  Pop $Com
  ${If} $Com != 0
    System::Call "$Com->0(g '{0000010b-0000-0000-C000-000000000046}', *p .s) i"  ; QueryInterface: IPersistFile
    Pop $Com2
    ${If} $Com2 != 0
      Push $Link
      System::Call "$Com2->5(w s, i 0) i .s"  ; IPersistFile::Load, read only
      Pop $Scratch2
      ${If} $Scratch2 == 0
        System::Call "$Com->3(w .s, i ${NSIS_MAX_STRLEN}, p 0, i 0) i"  ; IShellLinkW::GetPath
        Pop $Scratch
      ${EndIf}
      System::Call "$Com2->2()"
    ${EndIf}
    System::Call "$Com->2()"
  ${EndIf}
  ${If} $Scratch == ""
    Return
  ${EndIf}
  ${If} $Scratch == "$INSTDIR\${LAUNCHER}"
  ${OrIf} $Scratch == "$INSTDIR\${DOCTOR}"
    StrCpy $IsOurs 1
  ${ElseIf} $Installed != ""
    ${If} $Scratch == "$Installed\${LAUNCHER}"
    ${OrIf} $Scratch == "$Installed\${DOCTOR}"
      StrCpy $IsOurs 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; Where the recorded shortcut $Name lies now: under the known folder its
; record names, looked up as Windows says today; an earlier version's
; record of a whole path counts only where installs put shortcuts. Answers
; $Link, "" when it is nowhere we would touch.
Function ${UN}LinkPath
  StrCpy $Link ""
  StrCpy $Scratch $Name 8
  ${If} $Scratch == "Desktop\"
    StrCpy $Scratch $Name "" 8
    StrCpy $Link "$DESKTOP\$Scratch"
  ${Else}
    StrCpy $Scratch $Name 9
    ${If} $Scratch == "Programs\"
      StrCpy $Scratch $Name "" 9
      StrCpy $Link "$SMPROGRAMS\$Scratch"
    ${EndIf}
  ${EndIf}
  ${If} $Link == ""
    ${ForEach} $Index 0 1 + 1
      ${If} $Index == 0
        StrCpy $Scratch2 "$DESKTOP\"
      ${Else}
        StrCpy $Scratch2 "$SMPROGRAMS\${FOLDER}\"
      ${EndIf}
      StrLen $Pos $Scratch2
      StrCpy $Scratch $Name $Pos
      ${If} $Scratch == $Scratch2
        StrCpy $Link $Name
      ${EndIf}
    ${Next}
    ${IfThen} $Link == "" ${|} Return ${|}
  ${EndIf}
  StrCpy $Scratch $Link
  StrCpy $Name $Link "" 3  ; past the drive: no ".." or wildcard after it
  Call ${UN}SafeName
  StrCpy $Link $Scratch
  ${IfThen} $Safe != 1 ${|} StrCpy $Link "" ${|}
FunctionEnd

; Deletes the recorded shortcuts but $Keep1..$Keep3 (those this install
; keeps), and only where their target is ours; forgets their records.
Function ${UN}ForgetShortcuts
  StrCpy $Index 0
  ${Do}
    EnumRegValue $Name HKCU "${SHORTCUTS_KEY}" $Index
    ${IfThen} $Name == "" ${|} ${ExitDo} ${|}
    StrCpy $Target $Name  ; the record's name, whatever the calls below do to $Name
    ${If} $Name == $Keep1
    ${OrIf} $Name == $Keep2
    ${OrIf} $Name == $Keep3
      IntOp $Index $Index + 1
      ${Continue}
    ${EndIf}
    Push $Index
    Call ${UN}LinkPath
    ${If} $Link != ""
      Call ${UN}ShortcutIsOurs
      ${IfThen} $IsOurs == 1 ${|} Delete $Link ${|}
    ${EndIf}
    Pop $Index
    DeleteRegValue HKCU "${SHORTCUTS_KEY}" $Target
  ${Loop}
FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; Any answer of the engine but "done", as the player reads it.
Function EngineFailed
  ${If} $Status == "space"
    MessageBox MB_ICONSTOP|MB_OK "$(NoSpace)" /SD IDOK
  ${ElseIf} $Status == "held"
    MessageBox MB_ICONSTOP|MB_OK "$(FileHeld)" /SD IDOK
  ${Else}
    MessageBox MB_ICONSTOP|MB_OK "$(CannotWrite)" /SD IDOK
  ${EndIf}
  SetErrorLevel 2
  Quit
FunctionEnd

; Extracts SOURCE into the staging folder, to become TARGET (relative to the
; folder) when the engine commits.
!macro InstallFile SOURCE TARGET
  StrCpy $Where "$INSTDIR\${TARGET}"
  ${GetParent} "${STAGING}\${TARGET}" $Parent
  CreateDirectory "$Parent"
  ClearErrors
  File "/oname=${STAGING}\${TARGET}" "${SOURCE}"
  ${If} ${Errors}
    !insertmacro Fail
  ${EndIf}
!macroend

; NSIS's own File stops the install on a write error (a full disk): what
; was staged goes, and the exit code says it failed.
Function .onInstFailed
  setupengine::Abandon "$INSTDIR"
  MessageBox MB_ICONSTOP|MB_OK "$(CannotWrite)" /SD IDOK
  SetErrorLevel 2
FunctionEnd

; Makes the shortcut NAME (under its known folder: LINK) to TARGET (under the
; folder), unless it is there already as an install made it: each one made
; costs a noticeable part of an update's time. Its record, written first,
; holds what it starts.
!macro Shortcut NAME LINK TARGET
  ReadRegStr $Scratch HKCU "${SHORTCUTS_KEY}" "${NAME}"
  ${IfNot} ${FileExists} "${LINK}"
  ${OrIf} $Scratch != "$INSTDIR\${TARGET}"
    !insertmacro Record "${SHORTCUTS_KEY}" "${NAME}" "$INSTDIR\${TARGET}"
    ClearErrors
    CreateShortcut "${LINK}" "$INSTDIR\${TARGET}" "" "$INSTDIR\${LAUNCHER}" 0
    ${If} ${Errors}
      StrCpy $Where "${LINK}"
      !insertmacro FailAfter
    ${EndIf}
  ${EndIf}
!macroend

; One install of the game at a time: told another folder (/D=, or the
; directory page) while the game lies whole in the one installs recorded,
; setup refuses, naming it, with exit code 2.
Function RefuseAnotherFolder
  ReadRegStr $Installed HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${IfThen} $Installed == "" ${|} Return ${|}
  ${IfThen} $Installed == $INSTDIR ${|} Return ${|}
  GetFullPathName $Scratch $INSTDIR
  GetFullPathName $Scratch2 $Installed
  ${If} $Scratch != ""
  ${AndIf} $Scratch == $Scratch2
    Return
  ${EndIf}
  !insertmacro Holds $Installed
  ${IfThen} $Holds != 1 ${|} Return ${|}
  MessageBox MB_ICONSTOP|MB_OK "$(AlreadyInstalled)" /SD IDOK
  SetErrorLevel 2
  ${If} ${Silent}
    Quit
  ${EndIf}
  Abort  ; the directory page stays, for the player to choose the installed folder
FunctionEnd

Function .onInit
  ; Neither /D= nor an earlier install chose the folder: Windows' own folder
  ; for per-user programs, where it has one (Windows 7 and later).
  ${If} $INSTDIR == "$LOCALAPPDATA\Programs\${FOLDER}"
    GetKnownFolderPath $Scratch {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
    ${IfThen} $Scratch != "" ${|} StrCpy $INSTDIR "$Scratch\${FOLDER}" ${|}
  ${EndIf}
  ; A silent install shows no page: it is refused here.
  ${If} ${Silent}
    Call RefuseAnotherFolder
  ${EndIf}
FunctionEnd

Function DirectoryLeave
  Call RefuseAnotherFolder
FunctionEnd

Function PlayNow
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${LAUNCHER}"'
FunctionEnd
Var FirstInstall

; The entry's Publisher, when the release names a company.
!if "${COMPANY}" != ""
  !define PUBLISHER 'Publisher "s:${COMPANY}"'
!else
  !define PUBLISHER ""
!endif

Section
  SetShellVarContext current
  SetErrorLevel 0  ; a refusal on the directory page may have set 2
  ; One setup at a time. A later install wins over an uninstaller still
  ; waiting for a launcher: once this number has changed, it touches nothing.
  !insertmacro Lock
  ReadRegDWORD $Generation HKCU "${OWN_KEY}" "${GENERATION}"
  IntOp $Generation $Generation + 1
  WriteRegDWORD HKCU "${OWN_KEY}" "${GENERATION}" $Generation
  ; No shortcut recorded: the first install (or one stopped before it made
  ; any), which makes the Desktop shortcut; an update leaves one the player
  ; deleted deleted.
  EnumRegValue $Scratch HKCU "${SHORTCUTS_KEY}" 0
  StrCpy $FirstInstall 0
  ${IfThen} $Scratch == "" ${|} StrCpy $FirstInstall 1 ${|}
  ; An interrupted run finished or undone, files moved aside that are free
  ; deleted, the records of a folder that no longer holds the game
  ; forgotten, and the room for the new files beside the old ones checked.
  ReadRegStr $Installed HKCU "${UNINSTALL_KEY}" "InstallLocation"
  setupengine::Prepare "$INSTDIR" "${OWN_KEY}" "${UNINSTALL_KEY}" "$Installed" "${NEEDED}" "${LAUNCHER}" "${DOCTOR}"
  !insertmacro Checked

  !insertmacro InstallFile "${PROGRAMS}/${LAUNCHER}" "${LAUNCHER}"
  !insertmacro InstallFile "${PROGRAMS}/${DOCTOR}" "${DOCTOR}"
  !include "${GAME_FILES}"
  StrCpy $Where "$INSTDIR\${UNINSTALL_EXE}"
  ClearErrors
  WriteUninstaller "${STAGING}\${UNINSTALL_EXE}"
  ${If} ${Errors}
    !insertmacro Fail
  ${EndIf}
  ; Every file in place and recorded, or none: what an earlier version wrote
  ; and this one does not ship goes after. The entry's values, then "".
  setupengine::Commit "$INSTDIR" "${OWN_KEY}" "${UNINSTALL_KEY}" "$Generation" \
    DisplayName "s:${PRODUCT}" DisplayVersion "s:${VERSION}" ${PUBLISHER} \
    DisplayIcon 's:"$INSTDIR\${LAUNCHER}",0' InstallLocation "s:$INSTDIR" \
    UninstallString 's:"$INSTDIR\${UNINSTALL_EXE}"' QuietUninstallString 's:"$INSTDIR\${UNINSTALL_EXE}" /S' \
    NoModify "n:1" NoRepair "n:1" ""
  !insertmacro Checked
  !insertmacro Unlock

  ; The Start-menu shortcuts are put back on every install; the Desktop one
  ; on the first only, so that one the player deleted stays deleted. (The
  ; doctor's takes the name of this install's language.)
  StrCpy $Keep1 ""
  ${If} $FirstInstall == 1
  ${OrIf} ${FileExists} "$DESKTOP\${FOLDER}.lnk"
    StrCpy $Keep1 "Desktop\${FOLDER}.lnk"
  ${EndIf}
  StrCpy $Keep2 "Programs\${FOLDER}\${FOLDER}.lnk"
  StrCpy $Keep3 "Programs\${FOLDER}\$(DoctorShortcut).lnk"
  Call ForgetShortcuts
  ; "Start in" is the current output folder: the launcher looks for the
  ; game's items in the folder it is started in.
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${FOLDER}"
  ${If} $Keep1 != ""
    !insertmacro Shortcut "$Keep1" "$DESKTOP\${FOLDER}.lnk" "${LAUNCHER}"
  ${EndIf}
  !insertmacro Shortcut "$Keep2" "$SMPROGRAMS\${FOLDER}\${FOLDER}.lnk" "${LAUNCHER}"
  !insertmacro Shortcut "$Keep3" "$SMPROGRAMS\${FOLDER}\$(DoctorShortcut).lnk" "${DOCTOR}"
SectionEnd

; The uninstaller removes the install in the folder it runs from ($INSTDIR:
; the folder it was started from, or the one _?= names) when that folder
; holds the game, also when the game was moved there; a copy anywhere else
; (in Downloads, say) changes nothing.
Function un.onInit
  ReadRegStr $Installed HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $Installed == ""
    MessageBox MB_ICONSTOP|MB_OK "$(NotInstalled)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  ; The recorded folder is the install even when its launcher is gone (an
  ; antivirus took it, say): the player can still uninstall.
  ${IfThen} $Installed == $INSTDIR ${|} Return ${|}
  !insertmacro Holds $INSTDIR
  ${IfThen} $Holds == 1 ${|} Return ${|}
  !insertmacro Holds $Installed
  ${If} $Holds == 1
    MessageBox MB_ICONSTOP|MB_OK "$(NotThisFolder)" /SD IDOK
  ${Else}
    MessageBox MB_ICONSTOP|MB_OK "$(NoInstallHere)" /SD IDOK
  ${EndIf}
  SetErrorLevel 2
  Quit
FunctionEnd

; One look, under the mutex: nothing is touched once a later install has run.
; The engine deletes what installs wrote (an interrupted run finished or
; undone first), then the entry, and once nothing is in use the records and
; the folder. Answers in $InUse how many files are still in use, -1 when an
; install has run.
Function un.Look
  !insertmacro Lock
  ReadRegDWORD $Scratch HKCU "${OWN_KEY}" "${GENERATION}"
  ${If} $Scratch != $Generation
    StrCpy $InUse -1
  ${Else}
    setupengine::Remove "$INSTDIR" "${OWN_KEY}" "${UNINSTALL_KEY}" "$EXEPATH"
    !insertmacro EngineAnswer
    StrCpy $InUse $Number
    ${If} $Status != "done"
      StrCpy $InUse 0
      SetErrorLevel 2
    ${EndIf}
  ${EndIf}
  !insertmacro Unlock
FunctionEnd

; A shortcut under a name an install may have given it, recorded or not,
; deleted when it starts our launcher or doctor.
!macro DeleteOurShortcut LINK
  StrCpy $Link "${LINK}"
  Call un.ShortcutIsOurs
  ${IfThen} $IsOurs == 1 ${|} Delete $Link ${|}
!macroend

Section Uninstall
  SetShellVarContext current
  ; Only what installs wrote: a player's own files, the files the player
  ; changed, and the doctor's reports, stay.
  !insertmacro Lock
  ReadRegDWORD $Generation HKCU "${OWN_KEY}" "${GENERATION}"
  ; The Desktop and the Start menu are where Windows says they are now.
  StrCpy $Keep1 ""
  StrCpy $Keep2 ""
  StrCpy $Keep3 ""
  Call un.ForgetShortcuts
  !insertmacro DeleteOurShortcut "$DESKTOP\${FOLDER}.lnk"
  !insertmacro DeleteOurShortcut "$SMPROGRAMS\${FOLDER}\${FOLDER}.lnk"
  !insertmacro DeleteOurShortcut "$SMPROGRAMS\${FOLDER}\${DOCTOR_LINK_EN}.lnk"
  !insertmacro DeleteOurShortcut "$SMPROGRAMS\${FOLDER}\${DOCTOR_LINK_RU}.lnk"
  DeleteRegKey HKCU "${SHORTCUTS_KEY}"
  RMDir "$SMPROGRAMS\${FOLDER}"
  !insertmacro Unlock
  Call un.Look
SectionEnd

Var Waited

; A launcher still running keeps its file until it exits: wait for that out
; of sight, a day at most, looking once a second.
Function un.onUninstSuccess
  ${If} $InUse > 0
    HideWindow
    StrCpy $Waited 0
    ${Do}
      ${IfThen} $Waited >= 86400 ${|} ${ExitDo} ${|}
      Sleep 1000
      IntOp $Waited $Waited + 1
      Call un.Look
    ${LoopWhile} $InUse > 0
  ${EndIf}
FunctionEnd
