# The host's folder, %ProgramData%\Orvanel, made as the launchers need it
# (docs/security.md), and the host's files written into it. For the host's
# installer, from an elevated Windows PowerShell, before it writes any file:
#
#   powershell -NoProfile -ExecutionPolicy Bypass -File make-host-folder.ps1 -Files Sonvik.exe, Sonvik.dll
#
# Any user may create Orvanel before the installer runs, as a folder holding a
# DLL of theirs, as a junction to a folder of theirs, or keep a handle open on
# it. So the folder is made with its protected access list in the one call
# that creates it; one that was there already and was not made so (a link, no
# folder, another owner, a list that lets anyone else change it) is renamed
# aside, the link itself and never what it leads to, and never taken over;
# and owner, list and link attribute are read again from a handle that keeps
# the folder from being renamed while the files are written. Whatever it
# cannot make so, it stops at, having written nothing.
param([string[]] $Files = @())

$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 3

# Administrators own it; only SYSTEM and Administrators may change it or what
# is made in it; Users may read and run, and write no attributes. This list,
# and the rights below, are held to the launchers' code
# (tests/tools/check-host-folder-values.sh): they change there first.
$protectedSddl = 'O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)'
# SYSTEM, Administrators, TrustedInstaller.
$administer = 'S-1-5-18', 'S-1-5-32-544', 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'
# Write data or add a file, append or add a folder, write attributes, delete
# inside, delete, WRITE_DAC, WRITE_OWNER, GENERIC_WRITE, GENERIC_ALL.
$rightsThatChange = 0x500D0146

Add-Type -TypeDefinition @'
using System;
using System.ComponentModel;
using System.IO;
using System.Runtime.InteropServices;
using System.Security.AccessControl;
using Microsoft.Win32.SafeHandles;

public static class HostFolder
{
    [StructLayout(LayoutKind.Sequential)]
    struct SecurityAttributes { public int Length; public IntPtr Descriptor; public bool Inherit; }

    [StructLayout(LayoutKind.Sequential)]
    struct AttributeTagInfo { public uint Attributes; public uint ReparseTag; }

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern bool CreateDirectoryW(string path, ref SecurityAttributes attributes);

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern SafeFileHandle CreateFileW(string path, uint access, uint share, IntPtr security, uint disposition,
                                             uint flags, IntPtr template);

    [DllImport("kernel32.dll", SetLastError = true)]
    static extern bool GetFileInformationByHandleEx(SafeFileHandle file, int informationClass,
                                                    out AttributeTagInfo information, int size);

    [DllImport("advapi32.dll")]
    static extern uint GetSecurityInfo(SafeFileHandle handle, int objectType, uint information, IntPtr owner,
                                       IntPtr group, IntPtr dacl, IntPtr sacl, out IntPtr descriptor);

    [DllImport("advapi32.dll")]
    static extern uint GetSecurityDescriptorLength(IntPtr descriptor);

    [DllImport("kernel32.dll")]
    static extern IntPtr LocalFree(IntPtr memory);

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    static extern bool MoveFileExW(string from, string to, uint flags);

    const int AlreadyExists = 183;

    // Made with the descriptor in the call that creates it; false where
    // something of that name is there already, which is left as it is.
    public static bool Create(string path, RawSecurityDescriptor descriptor)
    {
        byte[] binary = new byte[descriptor.BinaryLength];
        descriptor.GetBinaryForm(binary, 0);
        GCHandle pinned = GCHandle.Alloc(binary, GCHandleType.Pinned);
        try
        {
            SecurityAttributes attributes = new SecurityAttributes();
            attributes.Length = Marshal.SizeOf(typeof(SecurityAttributes));
            attributes.Descriptor = pinned.AddrOfPinnedObject();
            if (CreateDirectoryW(path, ref attributes))
                return true;
            int error = Marshal.GetLastWin32Error();
            if (error == AlreadyExists)
                return false;
            throw new Win32Exception(error, "Cannot create " + path);
        }
        finally
        {
            pinned.Free();
        }
    }

    // The object at the path itself, a link never followed. Read access, as
    // only a handle that asks for data counts in the sharing check; sharing
    // no delete, so nobody may rename or delete it while it is held.
    public static SafeFileHandle Hold(string path)
    {
        const uint genericRead = 0x80000000, shareRead = 1, shareWrite = 2, openExisting = 3;
        const uint backupSemantics = 0x02000000, openReparsePoint = 0x00200000;
        SafeFileHandle handle = CreateFileW(path, genericRead, shareRead | shareWrite, IntPtr.Zero, openExisting,
                                            backupSemantics | openReparsePoint, IntPtr.Zero);
        if (handle.IsInvalid)
            throw new Win32Exception(Marshal.GetLastWin32Error(), "Cannot open " + path);
        return handle;
    }

    public static FileAttributes AttributesOf(SafeFileHandle held)
    {
        const int fileAttributeTagInfo = 9;
        AttributeTagInfo information;
        if (!GetFileInformationByHandleEx(held, fileAttributeTagInfo, out information,
                                          Marshal.SizeOf(typeof(AttributeTagInfo))))
            throw new Win32Exception(Marshal.GetLastWin32Error());
        return (FileAttributes) information.Attributes;
    }

    // Owner and access list.
    public static RawSecurityDescriptor SecurityOf(SafeFileHandle held)
    {
        const int fileObject = 1;
        const uint ownerAndAccessList = 1 | 4;
        IntPtr descriptor;
        uint error = GetSecurityInfo(held, fileObject, ownerAndAccessList, IntPtr.Zero, IntPtr.Zero, IntPtr.Zero,
                                     IntPtr.Zero, out descriptor);
        if (error != 0)
            throw new Win32Exception((int) error);
        try
        {
            byte[] binary = new byte[GetSecurityDescriptorLength(descriptor)];
            Marshal.Copy(descriptor, binary, 0, binary.Length);
            return new RawSecurityDescriptor(binary, 0);
        }
        finally
        {
            LocalFree(descriptor);
        }
    }

    // Renames what is at `from`, a link itself and not what it leads to.
    public static void MoveAside(string from, string to)
    {
        if (!MoveFileExW(from, to, 0))
            throw new Win32Exception(Marshal.GetLastWin32Error(), "Cannot rename " + from);
    }
}
'@

# Why the held object is not a folder as this script makes it; nothing when it is.
function Get-WhyNotOurs($held) {
    $attributes = [int][HostFolder]::AttributesOf($held)
    if (($attributes -band [int][IO.FileAttributes]::ReparsePoint) -ne 0) { return 'it is a link' }
    if (($attributes -band [int][IO.FileAttributes]::Directory) -eq 0) { return 'it is no folder' }
    $security = [HostFolder]::SecurityOf($held)
    if ($null -eq $security.Owner -or $administer -notcontains $security.Owner.Value) {
        return "it is owned by $($security.Owner)"
    }
    $protected = [int][Security.AccessControl.ControlFlags]::DiscretionaryAclProtected
    if ($null -eq $security.DiscretionaryAcl -or ([int]$security.ControlFlags -band $protected) -eq 0) {
        return 'its access list is not protected'
    }
    foreach ($entry in $security.DiscretionaryAcl) {
        if ($entry -isnot [Security.AccessControl.CommonAce]) { return 'its access list holds an entry of another kind' }
        if ($entry.AceQualifier -eq [Security.AccessControl.AceQualifier]::AccessAllowed -and
            ($entry.AccessMask -band $rightsThatChange) -ne 0 -and
            $administer -notcontains $entry.SecurityIdentifier.Value) {
            return "$($entry.SecurityIdentifier.Value) may change it"
        }
    }
    return $null
}

# What an administrator cannot open was not made by this script either.
function Get-WhyNotOursAt([string] $path) {
    try { $held = [HostFolder]::Hold($path) } catch { return "it cannot be opened: $($_.Exception.GetBaseException().Message)" }
    try { return Get-WhyNotOurs $held } finally { $held.Dispose() }
}

$identity = [Security.Principal.WindowsPrincipal][Security.Principal.WindowsIdentity]::GetCurrent()
if (-not $identity.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    throw 'Run this from an elevated prompt: only an administrator may make the host''s folder.'
}

$folder = Join-Path ([Environment]::GetFolderPath('CommonApplicationData')) 'Orvanel'
$descriptor = New-Object Security.AccessControl.RawSecurityDescriptor $protectedSddl

if (-not [HostFolder]::Create($folder, $descriptor)) {
    $why = Get-WhyNotOursAt $folder
    if ($why) {
        $aside = "$folder-set-aside-$(Get-Date -Format 'yyyyMMdd-HHmmss')"
        [HostFolder]::MoveAside($folder, $aside)
        Write-Warning "$folder was not made by the host's installer ($why): it is now $aside, unused."
        if (-not [HostFolder]::Create($folder, $descriptor)) {
            throw "$folder was made again by someone else meanwhile: nothing was written."
        }
    }
}

$held = [HostFolder]::Hold($folder)
try {
    $why = Get-WhyNotOurs $held
    if ($why) { throw "$folder is not as this script makes it ($why): nothing was written." }
    foreach ($file in $Files) {
        $target = Join-Path $folder (Split-Path -Leaf $file)
        Copy-Item -LiteralPath $file -Destination $target -Force
        # Whoever runs this owns what it writes under one Windows policy
        # ("Default owner for objects created by members of the Administrators
        # group": "Object creator"); the launchers trust Administrators.
        & icacls.exe $target /setowner '*S-1-5-32-544' /Q | Out-Null
        if ($LASTEXITCODE -ne 0) { throw "Cannot give $target to Administrators." }
    }
} finally {
    $held.Dispose()
}
