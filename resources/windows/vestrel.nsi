; The Windows installer of Vestrel, made with NSIS (makensis):
;   makensis -DVERSION=1.0.0.27 -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> vestrel.nsi
; Installs into Program Files, makes a Start-menu shortcut and an entry in
; Apps & Features; an upgrade keeps the user's Pelmora.ini.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vestrel"

Name "Vestrel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vestrel"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Vestrel"
VIAddVersionKey "FileDescription" "Vestrel Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "© 2026 Vestrel developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Vestrel"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/Vestrel.exe"
  File "${STAGE}/vestrel-sms.exe"
  File "${STAGE}/README.txt"
  File "${STAGE}/*.doc"
  ; The operator's port setting survives an upgrade.
  SetOverwrite off
  File "${STAGE}/Pelmora.ini"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Vestrel.lnk" "$INSTDIR\Vestrel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vestrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vestrel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vestrel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Vestrel.lnk"
  Delete "$INSTDIR\Vestrel.exe"
  Delete "$INSTDIR\vestrel-sms.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\*.doc"
  Delete "$INSTDIR\Pelmora.ini"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
