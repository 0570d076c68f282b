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
      DetailPrint "Could not copy ${PLUGIN} into $0"
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

; ---------------------------------------------------------------------------
; Sections
; ---------------------------------------------------------------------------

Section "${PRODUCT}" SecMain
  SectionIn RO
  SetShellVarContext all
  Call MoveOldInstallation

  SetOutPath "$INSTDIR"
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
  DetailPrint "Configuring OpenGL for ${PRODUCT}"
  ExecWait '"$SYSDIR\rundll32.exe" "$INSTDIR\${PLUGIN}",InstallConfiguration ${VERSION}' $0
  ${If} $0 != 0
    DetailPrint "The OpenGL configuration returned $0"
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
    CreateDirectory "$PluginDir"
    Push "$PluginDir"
    Call CopyPluginTo
  ${EndIf}
SectionEnd

Section "-Size"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "The plug-in, its manual and the presets."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecShortcuts} "The Options shortcut and the manual in the Start menu."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecHosts} "Copies the plug-in into the Plug-ins folder of every Photoshop installed."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPluginDir} "Copies the plug-in into a folder you choose (another image editor)."
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
