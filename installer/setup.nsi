; The system's installer and uninstaller.
;   makensis -DTARGET=x86-unicode -DBUILD_DIR=... -DBUILD64_DIR=... -DPLUGIN_DIR=...
;            -DEXTENSION_ID=... -DOUT_FILE=... setup.nsi
; BUILD_DIR holds the deliverables for the installer's own target; BUILD64_DIR the 64-bit COM
; servers (the same folder in the amd64-unicode build that the tests run). Each deliverable
; has its section, built in only when its files exist. The vendor's token library, CSP and
; device extension library are not part of this system and are never installed here.
Unicode true
!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
!addplugindir /${TARGET} "${PLUGIN_DIR}"
!include LogicLib.nsh
!include WordFunc.nsh
!include x64.nsh

!define PRODUCT "KOBA USB Key"
!define PRODUCT_VERSION "1.0.0.1"
!define SETTINGS_KEY "Software\Korvanet\507Q2_KOBA"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KOBA_USBKey"
!define HOST_NAME "com.google.chrome.koba.kvn"
!define HOST_EXE "koba.chrome.KVN.NativeHost.exe"
!define CHROME_HOSTS "Software\Google\Chrome\NativeMessagingHosts"
!define EDGE_HOSTS "Software\Microsoft\Edge\NativeMessagingHosts"
!define PINPAD_DLL "Q2Pinpad_KOBA.dll"

; The name the system has always shipped under; Windows' installer detection is what it wants.
!pragma warning disable 9000
Name "${PRODUCT}"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!if "${TARGET}" == "amd64-unicode"
  InstallDir "$PROGRAMFILES64\KOBA"
!else
  InstallDir "$PROGRAMFILES\KOBA"
!endif
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; regsvr32 of the server's own bitness: a 32-bit installer reaches the 64-bit one through
; Sysnative.
!macro RegisterServer DLL BITS ARGS
  !if "${TARGET}" == "amd64-unicode"
    ExecWait '"$SYSDIR\regsvr32.exe" /s ${ARGS} "${DLL}"'
  !else if ${BITS} == 64
    ExecWait '"$WINDIR\Sysnative\regsvr32.exe" /s ${ARGS} "${DLL}"'
  !else
    ExecWait '"$SYSDIR\regsvr32.exe" /s ${ARGS} "${DLL}"'
  !endif
!macroend

; A settings value in both registry views, through the plug-in.
!macro SettingsValue NAME VALUE
  Plugin_lmwt::WriteRegStr /x86 /x64 HKLM "${SETTINGS_KEY}" "${NAME}" "${VALUE}" go
!macroend

Section "Core" SecCore
  SectionIn RO
  SetShellVarContext all
  ; The PIN pad library goes where every deliverable looks for it: the system folder of its
  ; bitness.
  SetOutPath "$SYSDIR"
  File "${BUILD_DIR}/pinpad/${PINPAD_DLL}"

  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/host/${HOST_EXE}"
  SetOutPath "$INSTDIR\langs"
  File "${BUILD_DIR}/langs/*.ini"
  SetOutPath "$INSTDIR\res"
  File /x *.ico "${BUILD_DIR}/pinpad/res/*.*"
  SetOutPath "$INSTDIR"

  !insertmacro SettingsValue InstallPath "$INSTDIR"
  !insertmacro SettingsValue version "${PRODUCT_VERSION}"

  ; The host's manifest beside it, named by the browsers' per-user keys.
  ${WordReplace} "$INSTDIR\${HOST_EXE}" "\" "\\" "+" $0
  FileOpen $1 "$INSTDIR\${HOST_NAME}.json" w
  FileWrite $1 '{$\r$\n  "name": "${HOST_NAME}",$\r$\n  "description": "KOBA USB key",$\r$\n'
  FileWrite $1 '  "path": "$0",$\r$\n  "type": "stdio",$\r$\n'
  FileWrite $1 '  "allowed_origins": ["chrome-extension://${EXTENSION_ID}/"]$\r$\n}$\r$\n'
  FileClose $1
  WriteRegStr HKCU "${CHROME_HOSTS}\${HOST_NAME}" "" "$INSTDIR\${HOST_NAME}.json"
  WriteRegStr HKCU "${EDGE_HOSTS}\${HOST_NAME}" "" "$INSTDIR\${HOST_NAME}.json"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Korvanet Corporation"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

!if /FileExists "${BUILD_DIR}/controls/KOBAGM_KVNUsbKey_32.dll"
Section "Token control" SecTokenControl
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/controls/KOBAGM_KVNUsbKey_32.dll"
  !insertmacro RegisterServer "$INSTDIR\KOBAGM_KVNUsbKey_32.dll" 32 ""
  !if /FileExists "${BUILD64_DIR}/controls/KOBAGM_KVNUsbKey_64.dll"
    File "${BUILD64_DIR}/controls/KOBAGM_KVNUsbKey_64.dll"
    !insertmacro RegisterServer "$INSTDIR\KOBAGM_KVNUsbKey_64.dll" 64 ""
  !endif
  !insertmacro SettingsValue GMUSBKeyVersion "${PRODUCT_VERSION}"
SectionEnd
!endif

!if /FileExists "${BUILD_DIR}/controls/koba_kvnusbkey.dll"
Section "Page helper" SecPageHelper
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/controls/koba_kvnusbkey.dll"
  !insertmacro RegisterServer "$INSTDIR\koba_kvnusbkey.dll" 32 ""
  !if /FileExists "${BUILD64_DIR}/controls/koba_kvnusbkey64.dll"
    File "${BUILD64_DIR}/controls/koba_kvnusbkey64.dll"
    !insertmacro RegisterServer "$INSTDIR\koba_kvnusbkey64.dll" 64 ""
  !endif
  !insertmacro SettingsValue USBKeyVersion "${PRODUCT_VERSION}"
SectionEnd
!endif

!if /FileExists "${BUILD_DIR}/service/VexloSerB.exe"
Section "Device service" SecService
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/service/VexloSerB.exe"
  ExecWait '"$INSTDIR\VexloSerB.exe" -i -s'
SectionEnd
!endif

!if /FileExists "${BUILD_DIR}/traymon/Q2Svr_KOBA.exe"
Section "Certificate monitor" SecTrayMonitor
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/traymon/Q2Svr_KOBA.exe"
  ; "kill" ends a monitor left by an earlier installation and makes this run exit after the
  ; certificates; Windows starts the monitor at the next logon through the service's Run value.
  ; The monitor notes which certificates were new to each store, for "removeRoot".
  ExecWait '"$INSTDIR\Q2Svr_KOBA.exe" kill installRoot'
SectionEnd
!endif

; The bank's CA certificates in the first Firefox profile, through the NSS of the current
; Firefox installation; nothing happens without one.
Section "Firefox" SecFirefox
  Plugin_lmwt::FFox_AddRootCert
SectionEnd

!if /FileExists "${BUILD_DIR}/tool/Q2Tool_KOBA.exe"
Section "Management tool" SecTool
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/tool/Q2Tool_KOBA.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\KOBA Tools.lnk" "$INSTDIR\Q2Tool_KOBA.exe"
SectionEnd
!endif

; Programs of the system that may hold its files: asked to end, and ended when the user
; agrees (in silent mode without asking).
!macro CloseHolders DLL
  ${IfNot} ${Silent}
    Plugin_lmwt::GetDllOwnerProcName "${DLL}" "${PRODUCT}" \
        "These programs use ${DLL}. Close them to continue." "Process" "File" "Close" "Cancel"
    ${If} $R0 == "CANCEL"
      Abort
    ${EndIf}
  ${EndIf}
!macroend

Section "Uninstall"
  SetShellVarContext all
  !insertmacro CloseHolders "${PINPAD_DLL}"
  ${If} ${FileExists} "$INSTDIR\Q2Tool_KOBA.exe"
    ExecWait '"$INSTDIR\Q2Tool_KOBA.exe" kill'
    Delete "$SMPROGRAMS\${PRODUCT}\KOBA Tools.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    Delete "$INSTDIR\Q2Tool_KOBA.exe"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Q2Svr_KOBA.exe"
    ; The CA certificates that the installation added go again; those that were there before
    ; stay.
    ExecWait '"$INSTDIR\Q2Svr_KOBA.exe" kill removeRoot'
    Delete "$INSTDIR\Q2Svr_KOBA.exe"
    ; The usage logs in the common application data folder ("all" context).
    RMDir /r "$APPDATA\KOBAUkeyLog"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\VexloSerB.exe"
    ExecWait '"$INSTDIR\VexloSerB.exe" -k -u'
    ; The service kept the tray monitor's start at logon while it ran.
    DeleteRegValue HKLM "Software\Microsoft\Windows\CurrentVersion\Run" "Q2Svr_KOBA.exe"
    Delete "$INSTDIR\VexloSerB.exe"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\KOBAGM_KVNUsbKey_32.dll"
    !insertmacro RegisterServer "$INSTDIR\KOBAGM_KVNUsbKey_32.dll" 32 /u
    Delete "$INSTDIR\KOBAGM_KVNUsbKey_32.dll"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\KOBAGM_KVNUsbKey_64.dll"
    !insertmacro RegisterServer "$INSTDIR\KOBAGM_KVNUsbKey_64.dll" 64 /u
    Delete "$INSTDIR\KOBAGM_KVNUsbKey_64.dll"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\koba_kvnusbkey.dll"
    !insertmacro RegisterServer "$INSTDIR\koba_kvnusbkey.dll" 32 /u
    Delete "$INSTDIR\koba_kvnusbkey.dll"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\koba_kvnusbkey64.dll"
    !insertmacro RegisterServer "$INSTDIR\koba_kvnusbkey64.dll" 64 /u
    Delete "$INSTDIR\koba_kvnusbkey64.dll"
  ${EndIf}

  Delete /REBOOTOK "$SYSDIR\${PINPAD_DLL}"
  Delete "$INSTDIR\${HOST_EXE}"
  Delete "$INSTDIR\${HOST_NAME}.json"
  RMDir /r "$INSTDIR\langs"
  RMDir /r "$INSTDIR\res"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKCU "${CHROME_HOSTS}\${HOST_NAME}"
  DeleteRegKey /ifempty HKCU "${CHROME_HOSTS}"
  DeleteRegKey HKCU "${EDGE_HOSTS}\${HOST_NAME}"
  DeleteRegKey /ifempty HKCU "${EDGE_HOSTS}"
  ; The browsers' own keys, when the registration made them and nothing else uses them.
  DeleteRegKey /ifempty HKCU "Software\Google\Chrome"
  DeleteRegKey /ifempty HKCU "Software\Google"
  DeleteRegKey /ifempty HKCU "Software\Microsoft\Edge"
  ; The user's settings key holds the notes of the user's CA certificates while installed.
  DeleteRegKey /ifempty HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Korvanet"
  Plugin_lmwt::DeleteRegKey /x86 /x64 HKLM "${SETTINGS_KEY}" go
  Plugin_lmwt::DeleteRegKey /x86 /x64 /ifempty HKLM "Software\Korvanet" go
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
