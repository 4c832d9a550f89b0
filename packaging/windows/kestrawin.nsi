; SPDX-License-Identifier: Apache-2.0
; The Windows installer, for the user who runs it: no administrator, the
; programs in %LOCALAPPDATA%\Programs\Kestrawin, a Start-menu entry, an entry
; in the list of installed programs, and an uninstaller that removes all of
; that and the context-menu entries the program writes at every start.
;
; scripts/package-windows.sh builds it, defining VERSION, OUTFILE and the
; programs to pack: WINDOW_PROGRAM (kestrawin.exe) and CLI_PROGRAM
; (kestrawin-cli.exe), each where the build made it, at least one of them.

; A 64-bit installer, like the programs it installs (it sees the registry as
; they do).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include FileFunc.nsh

!ifndef WINDOW_PROGRAM & CLI_PROGRAM
  !ifndef WINDOW_PROGRAM | CLI_PROGRAM
    !error "No program to pack: define WINDOW_PROGRAM and/or CLI_PROGRAM"
  !endif
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrawin"
!define CLASSES "Software\Classes"

Name "Kestrawin ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Kestrawin"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Kestrawin"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  !ifdef WINDOW_PROGRAM
    File "/oname=kestrawin.exe" "${WINDOW_PROGRAM}"
  !endif
  !ifdef CLI_PROGRAM
    File "/oname=kestrawin-cli.exe" "${CLI_PROGRAM}"
  !endif
  WriteUninstaller "$INSTDIR\uninstall.exe"

  !ifdef WINDOW_PROGRAM
    CreateShortCut "$SMPROGRAMS\Kestrawin.lnk" "$INSTDIR\kestrawin.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrawin.exe,0"
  !endif
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Kestrawin"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; Our files by name only: anything else in the folder stays, and so does
  ; the folder then.
  Delete "$INSTDIR\kestrawin.exe"
  Delete "$INSTDIR\kestrawin-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Kestrawin.lnk"

  ; The keys the program writes at every start (shell/RegistryRegistration.h),
  ; each with everything below it; "*\Shell" and the rest stay.
  DeleteRegKey HKCU "${CLASSES}\*\Shell\Encrypt with $\"Kestrawin$\""
  DeleteRegKey HKCU "${CLASSES}\.ksw"
  DeleteRegKey HKCU "${CLASSES}\Pellmora File"
  ; SHCNE_ASSOCCHANGED: Explorer reads the file types again.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
