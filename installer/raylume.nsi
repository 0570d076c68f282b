; The Raylume Pro 2 installer (NSIS 3, a 64-bit installer for 64-bit Windows).
; Built by scripts/build_installer.sh, which passes:
;   VERSION     the product version, four numbers (CMake's project version)
;   BUILD_DIR   the folder holding RaylumePro2.8bf and RaylumePro2.chm
;   SOURCE_DIR  the source tree (presets/)
;   OUTFILE     the installer to write
;
; Command line (besides NSIS's own /S and /D=FOLDER, which must come last):
;   /PLUGINDIR=FOLDER   also copy the plug-in into FOLDER (the plug-in folder of
;                       any Photoshop-compatible host); quote a FOLDER with spaces
;   /NOHOSTS            do not copy into the Photoshop plug-in folders found
;   /TOOL               also install the command-line tool raylume.exe and put
;                       the product folder on the system PATH
; Exit code: 0 when every step was done; 2 when a step failed (a plug-in folder
; that could not be made or written, the installation entry's settings not
; stored): the log and the details name it.
; Uninstaller:
;   /REMOVEUSERDATA     also remove the current user's settings, saved parameter
;                       sets and logs, and the product's registry preferences

!macro RequireDefine NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: build the installer with scripts/build_installer.sh"
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine BUILD_DIR
!insertmacro RequireDefine SOURCE_DIR
!insertmacro RequireDefine OUTFILE

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include TextFunc.nsh
!include x64.nsh
!include Sections.nsh
!include StrFunc.nsh
${StrStr}
${UnStrRep}

!define PRODUCT "Raylume Pro 2"
!define PUBLISHER "Corvane Software"
!define PLUGIN "RaylumePro2.8bf"
!define UNINSTALLER "Uninstall.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\RaylumePro2"
; The plug-in's own keys: the installation entry writes OpenGLSettings under
; the HKLM one, the Options dialog the update preferences under the HKCU one.
!define PRODUCT_KEY "Software\Corvane Software\RaylumePro\2.0"
; The plug-in looks for its manual in the product's common folder first.
!define COMMON_FOLDER "CorvaneSoftware\${PRODUCT}"
; The per-user folder of settings, parameter sets and logs (left on upgrade
; and on uninstall unless /REMOVEUSERDATA).
!define USER_FOLDER "Corvane\RaylumePro2"
; The host folders this installation copied the plug-in into, one a line.
!define COPIES_LIST "PluginCopies.txt"
; The plug-in folders this installation made (removed again when empty).
!define CREATED_LIST "PluginFoldersMade.txt"
; What failed in the last installation, a line a step (a silent install shows nothing).
!define SETUP_LOG "Setup.log"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define STARTMENU_FOLDER "${PRODUCT}"
!define OPTIONS_LINK "${PRODUCT} Options.lnk"
!define MANUAL_LINK "${PRODUCT} Manual.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Corvane Software\${PRODUCT}"
; An upgrade goes where the last installation went (a /D= still wins).
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Var PluginDir       ; the extra plug-in folder (/PLUGINDIR= or the page)
Var RemoveUserData  ; uninstaller: 1 with /REMOVEUSERDATA
Var Failures        ; steps that failed: the exit code is 2 when any did

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
; The extra plug-in folder, asked only when its component is ticked.
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipPluginDirPage
!define MUI_DIRECTORYPAGE_VARIABLE $PluginDir
!define MUI_PAGE_HEADER_TEXT "Another plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the plug-in folder of another image editor."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup copies ${PLUGIN} into this folder as well. Choose the folder where your image editor looks for Photoshop-compatible filters."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Plug-in folder"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------
; Helpers
; ---------------------------------------------------------------------------

; A step that failed: said in the details (and so in the log) and counted.
!macro StepFailed TEXT
  DetailPrint "FAILED: ${TEXT}"
  IntOp $Failures $Failures + 1
  Push "${SETUP_LOG}"
  Push "FAILED: ${TEXT}"
  Call AppendLine
!macroend

; Adds a folder to the list of plug-in copies unless it is there already
; (an upgrade keeps the copies of the installation before).
Function RememberCopy
  Exch $0  ; the folder
  Push $1
  Push $2
  StrCpy $2 0
  ClearErrors
  FileOpen $1 "$INSTDIR\${COPIES_LIST}" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $1 $R9
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      ${TrimNewLines} $R9 $R9
      ${If} $R9 == $0
        StrCpy $2 1
        ${Break}
      ${EndIf}
    ${Loop}
    FileClose $1
  ${EndIf}
  ${If} $2 == 0
    FileOpen $1 "$INSTDIR\${COPIES_LIST}" a
    FileSeek $1 0 END
    FileWrite $1 "$0$\r$\n"
    FileClose $1
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Copies the installed plug-in into a host's plug-in folder and remembers it.
Function CopyPluginTo
  Exch $0  ; the folder
  ${If} ${FileExists} "$0\*.*"
    ClearErrors
    CopyFiles /SILENT "$INSTDIR\${PLUGIN}" "$0"
    ${If} ${Errors}
    ${OrIfNot} ${FileExists} "$0\${PLUGIN}"
      !insertmacro StepFailed "could not copy ${PLUGIN} into $0"
    ${Else}
      DetailPrint "Copied ${PLUGIN} into $0"
      Push $0
      Call RememberCopy
    ${EndIf}
  ${Else}
    DetailPrint "No plug-in folder $0"
  ${EndIf}
  Pop $0
FunctionEnd

; Puts the new plug-in into every host folder an earlier installation copied
; it into (the list stays; folders since removed are passed over).
Function RefreshCopies
  ClearErrors
  FileOpen $1 "$INSTDIR\${COPIES_LIST}" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $1 $2
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      ${TrimNewLines} $2 $2
      ${If} $2 != ""
      ${AndIf} ${FileExists} "$2\*.*"
        ClearErrors
        CopyFiles /SILENT "$INSTDIR\${PLUGIN}" "$2"
        ${If} ${Errors}
          DetailPrint "Could not update ${PLUGIN} in $2"
        ${Else}
          DetailPrint "Updated ${PLUGIN} in $2"
        ${EndIf}
      ${EndIf}
    ${Loop}
    FileClose $1
  ${EndIf}
FunctionEnd

; An installation elsewhere (a reinstall with another /D=) moves: the old
; folder's files go, its list of host copies comes along.
Function MoveOldInstallation
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${OrIf} $0 == $INSTDIR
  ${OrIfNot} ${FileExists} "$0\${PLUGIN}"
    Return
  ${EndIf}
  DetailPrint "Moving the installation from $0"
  CreateDirectory "$INSTDIR"
  ${If} ${FileExists} "$0\${COPIES_LIST}"
  ${AndIfNot} ${FileExists} "$INSTDIR\${COPIES_LIST}"
    CopyFiles /SILENT "$0\${COPIES_LIST}" "$INSTDIR"
  ${EndIf}
  Delete "$0\${COPIES_LIST}"
  Delete "$0\${PLUGIN}"
  Delete "$0\Presets\*.rlp"
  RMDir "$0\Presets"
  Delete "$0\${UNINSTALLER}"
  RMDir "$0"
  RMDir "$PROGRAMFILES64\Corvane Software"
FunctionEnd

; Removes a folder's trailing backslash.
!macro TrimBackslash VAR
  StrCpy $R8 ${VAR} 1 -1
  ${If} $R8 == "\"
    StrCpy ${VAR} ${VAR} -1
  ${EndIf}
!macroend

; Adds a line to a list file in the installation folder.
Function AppendLine
  Exch $0  ; the line
  Exch
  Exch $1  ; the list file
  Push $2
  FileOpen $2 "$INSTDIR\$1" a
  FileSeek $2 0 END
  FileWrite $2 "$0$\r$\n"
  FileClose $2
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; ---------------------------------------------------------------------------
; Sections
; ---------------------------------------------------------------------------

Section "${PRODUCT}" SecMain
  SectionIn RO
  SetShellVarContext all
  Call MoveOldInstallation

  SetOutPath "$INSTDIR"
  Delete "$INSTDIR\${SETUP_LOG}"
  File "${BUILD_DIR}/${PLUGIN}"
  Call RefreshCopies
  SetOutPath "$INSTDIR\Presets"
  File "${SOURCE_DIR}/presets/*.rlp"

  ; The manual where the plug-in looks for it first.
  SetOutPath "$APPDATA\${COMMON_FOLDER}"
  File "/oname=${PRODUCT}.chm" "${BUILD_DIR}/RaylumePro2.chm"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1

  ; Characterise OpenGL on this machine and store the product version. It
  ; keeps a setting the user chose in the Options dialog.
  ; rundll32's exit code says nothing of the entry's own result: the stored
  ; version does. Without a display the entry leaves the OpenGL setting for
  ; the plug-in to choose at its first preview, and says so in its log.
  DetailPrint "Configuring OpenGL for ${PRODUCT}"
  ExecWait '"$SYSDIR\rundll32.exe" "$INSTDIR\${PLUGIN}",InstallConfiguration ${VERSION}' $0
  ReadRegStr $1 HKLM "${PRODUCT_KEY}\OpenGLSettings" "InstalledProductVersion"
  ${If} $1 != "${VERSION}"
    !insertmacro StepFailed "the OpenGL configuration stored no settings (rundll32 returned $0); the plug-in chooses them when its preview first starts"
  ${Else}
    ReadRegDWORD $1 HKLM "${PRODUCT_KEY}\OpenGLSettings" "OpenGLOptimizationSetting"
    ${If} $1 == 0
      DetailPrint "OpenGL could not be tried here (no display?): the plug-in chooses its setting when its preview first starts"
    ${EndIf}
  ${EndIf}
SectionEnd

Section /o "Command-line tool (raylume.exe)" SecTool
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/raylume.exe"
  ; The product folder on the system PATH, once.
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  ${StrStr} $1 ";$0;" ";$INSTDIR;"
  ${If} $1 == ""
    ${If} $0 == ""
      StrCpy $0 "$INSTDIR"
    ${Else}
      StrCpy $0 "$0;$INSTDIR"
    ${EndIf}
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0"
    SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=2000
    DetailPrint "Added $INSTDIR to the system PATH"
  ${EndIf}
SectionEnd

Section "Start menu shortcuts" SecShortcuts
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${STARTMENU_FOLDER}"
  CreateShortCut "$SMPROGRAMS\${STARTMENU_FOLDER}\${OPTIONS_LINK}" "$SYSDIR\rundll32.exe" \
    '"$INSTDIR\${PLUGIN}",ConfigureOptions' "$SYSDIR\rundll32.exe" 0 SW_SHOWNORMAL "" \
    "Options of ${PRODUCT}: updates and the OpenGL setting"
  CreateShortCut "$SMPROGRAMS\${STARTMENU_FOLDER}\${MANUAL_LINK}" "$APPDATA\${COMMON_FOLDER}\${PRODUCT}.chm"
SectionEnd

Section "Copy into the Photoshop plug-in folders found" SecHosts
  ; Every version's ApplicationPath under HKLM\SOFTWARE\Adobe\Photoshop.
  StrCpy $3 0
  ${Do}
    EnumRegKey $4 HKLM "SOFTWARE\Adobe\Photoshop" $3
    ${If} $4 == ""
      ${Break}
    ${EndIf}
    IntOp $3 $3 + 1
    ReadRegStr $5 HKLM "SOFTWARE\Adobe\Photoshop\$4" "ApplicationPath"
    ${If} $5 != ""
      !insertmacro TrimBackslash $5
      Push "$5\Plug-ins"
      Call CopyPluginTo
    ${EndIf}
  ${Loop}
SectionEnd

Section /o "Copy into another plug-in folder" SecPluginDir
  ${If} $PluginDir != ""
    !insertmacro TrimBackslash $PluginDir
    ${IfNot} ${FileExists} "$PluginDir\*.*"
      ClearErrors
      CreateDirectory "$PluginDir"
      ${If} ${Errors}
      ${OrIfNot} ${FileExists} "$PluginDir\*.*"
        !insertmacro StepFailed "could not make the plug-in folder $PluginDir"
        Return
      ${EndIf}
      Push "${CREATED_LIST}"
      Push "$PluginDir"
      Call AppendLine
    ${EndIf}
    Push "$PluginDir"
    Call CopyPluginTo
  ${EndIf}
SectionEnd

Section "-Size"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

; Last: a failed step makes the exit code 2, for the administrator's script.
Section "-Outcome"
  ${If} $Failures > 0
    DetailPrint "$Failures step(s) failed: see the lines marked FAILED (also in $INSTDIR\${SETUP_LOG})"
    SetErrorLevel 2
  ${EndIf}
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "The plug-in, its manual and the presets."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecShortcuts} "The Options shortcut and the manual in the Start menu."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecHosts} "Copies the plug-in into the Plug-ins folder of every Photoshop installed."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPluginDir} "Copies the plug-in into a folder you choose (another image editor)."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecTool} "The command-line tool raylume.exe, for batch work, on the system PATH."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function SkipPluginDirPage
  ${IfNot} ${SectionIsSelected} ${SecPluginDir}
    Abort
  ${EndIf}
FunctionEnd

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs a 64-bit version of Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PLUGINDIR=" $1
  ${IfNot} ${Errors}
  ${AndIf} $1 != ""
    StrCpy $PluginDir $1
    !insertmacro SelectSection ${SecPluginDir}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NOHOSTS" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecHosts}
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/TOOL" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecTool}
  ${EndIf}
  StrCpy $Failures 0
FunctionEnd

; ---------------------------------------------------------------------------
; Uninstaller: removes what the installation put down. The user's settings,
; parameter sets and logs and the registry preferences stay unless
; /REMOVEUSERDATA is given.
; ---------------------------------------------------------------------------

Function un.onInit
  SetRegView 64
  StrCpy $RemoveUserData 0
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/REMOVEUSERDATA" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveUserData 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all

  ; The copies in the hosts' plug-in folders.
  ClearErrors
  FileOpen $1 "$INSTDIR\${COPIES_LIST}" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $1 $2
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      ${un.TrimNewLines} $2 $2
      ${If} $2 != ""
        Delete "$2\${PLUGIN}"
        DetailPrint "Removed ${PLUGIN} from $2"
      ${EndIf}
    ${Loop}
    FileClose $1
  ${EndIf}
  Delete "$INSTDIR\${COPIES_LIST}"
  ; The plug-in folders the installation made, when nothing else is in them.
  ClearErrors
  FileOpen $1 "$INSTDIR\${CREATED_LIST}" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $1 $2
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      ${un.TrimNewLines} $2 $2
      ${If} $2 != ""
        RMDir "$2"
      ${EndIf}
    ${Loop}
    FileClose $1
  ${EndIf}
  Delete "$INSTDIR\${CREATED_LIST}"
  Delete "$INSTDIR\${SETUP_LOG}"
  ; The command-line tool and its PATH entry.
  Delete "$INSTDIR\raylume.exe"
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  ${UnStrRep} $1 ";$0;" ";$INSTDIR;" ";"
  ${If} $1 != ";$0;"
    StrCpy $1 $1 -1 1  ; the separators added around it
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$1"
    SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}

  Delete "$SMPROGRAMS\${STARTMENU_FOLDER}\${OPTIONS_LINK}"
  Delete "$SMPROGRAMS\${STARTMENU_FOLDER}\${MANUAL_LINK}"
  RMDir "$SMPROGRAMS\${STARTMENU_FOLDER}"

  Delete "$APPDATA\${COMMON_FOLDER}\${PRODUCT}.chm"

  Delete "$INSTDIR\${PLUGIN}"
  Delete "$INSTDIR\Presets\*.rlp"
  RMDir "$INSTDIR\Presets"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Corvane Software"

  DeleteRegKey HKLM "${UNINST_KEY}"

  ${If} $RemoveUserData == 1
    RMDir /r "$APPDATA\${COMMON_FOLDER}"
    DeleteRegKey HKLM "${PRODUCT_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Corvane Software\RaylumePro"
    DeleteRegKey /ifempty HKLM "Software\Corvane Software"
    SetShellVarContext current
    RMDir /r "$LOCALAPPDATA\${USER_FOLDER}"
    RMDir "$LOCALAPPDATA\Corvane"
    DeleteRegKey HKCU "${PRODUCT_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Corvane Software\RaylumePro"
    DeleteRegKey /ifempty HKCU "Software\Corvane Software"
    SetShellVarContext all
  ${EndIf}
  ; The common folders stay while anything of the user's is in them.
  RMDir "$APPDATA\${COMMON_FOLDER}"
  RMDir "$APPDATA\CorvaneSoftware"
SectionEnd
