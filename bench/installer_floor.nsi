; The floor for the players' installer: a plain NSIS installer of the same
; files, with the same compressor, into the same kind of folder, and nothing
; more. Not shipped; bench/bench_installer.py times the real installer
; against it, as bench/floor.c stands beside the launcher. Built with the
; real installer's -D values.
Unicode true
RequestExecutionLevel user
SetCompressor /SOLID lzma
SetDateSave off

!include FileFunc.nsh
!ifdef ENGINE_CALL
  ; The floor and one call of the installer's engine: what loading it costs.
  !addplugindir /x86-unicode "${ENGINE}"
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${FOLDER} floor"

!macro InstallFile SOURCE TARGET
  ${GetParent} "$INSTDIR\${TARGET}" $1
  CreateDirectory "$1"
  File "/oname=$INSTDIR\${TARGET}" "${SOURCE}"
!macroend

Section
  SetOutPath "$INSTDIR"
  File "/oname=$INSTDIR\${NAME}.exe" "${PROGRAMS}/${NAME}.exe"
  File "/oname=$INSTDIR\${NAME}-doctor.exe" "${PROGRAMS}/${NAME}-doctor.exe"
  !include "${GAME_FILES}"
!ifdef ENGINE_CALL
  setupengine::Abandon "$INSTDIR"
!endif
SectionEnd
