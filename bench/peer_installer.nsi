; The NSIS installer that bench/peer_bench.sh measures against the setup
; program: the same product folder, zlib (not solid), a quiet mode (/S), an
; uninstaller, an uninstall registry entry and the same shortcuts.
; makensis -DPAYLOAD=FOLDER -DOUTFILE=SETUP.exe -DTARGET=amd64-unicode|x86-unicode
;          [-DEMPTY] (no product files: what is left is stub + script + uninstaller)
Unicode true
!include LogicLib.nsh
Target ${TARGET}
SetCompressor zlib
RequestExecutionLevel user
Name "Quillo 3"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Brightfen\Quillo 3"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillo 3 (NSIS)"

Page directory
Page instfiles
UninstPage instfiles

Section "Quillo 3"
  SetOutPath "$INSTDIR"
!ifndef EMPTY
  File /r "${PAYLOAD}/*"
!endif
  WriteUninstaller "$INSTDIR\uninst.exe"
  ; As the setup program does: the start-menu link always, the desktop and
  ; quick-launch links only when their target is there.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Quillo 3 (NSIS)"
  CreateShortCut "$SMPROGRAMS\Quillo 3 (NSIS)\Quillo 3.lnk" "$INSTDIR\Quillo.exe"
  ${If} ${FileExists} "$INSTDIR\Quillo.exe"
    CreateShortCut "$DESKTOP\Quillo 3 (NSIS).lnk" "$INSTDIR\Quillo.exe"
    SetShellVarContext current
    CreateDirectory "$APPDATA\Microsoft\Internet Explorer\Quick Launch"
    CreateShortCut "$APPDATA\Microsoft\Internet Explorer\Quick Launch\Quillo 3 (NSIS).lnk" "$INSTDIR\Quillo.exe"
  ${EndIf}
  SetShellVarContext current
  SetRegView 32
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillo 3"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Brightfen"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "Version" 1
  WriteRegDWORD HKCU "Software\Brightfen\Quillo (NSIS)" "Channel" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$DESKTOP\Quillo 3 (NSIS).lnk"
  RMDir /r "$SMPROGRAMS\Quillo 3 (NSIS)"
  SetShellVarContext current
  Delete "$APPDATA\Microsoft\Internet Explorer\Quick Launch\Quillo 3 (NSIS).lnk"
  RMDir /r "$INSTDIR"
  SetRegView 32
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
