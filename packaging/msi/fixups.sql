-- What wixl 0.101 cannot write from holvsvc.wxs, applied with msibuild after
-- it by build.cmake. One statement per line.

-- The example worker only where no other HOLV32IP.EXE is.
UPDATE `Component` SET `Condition` = 'HOLV_WORKER_FREE' WHERE `Component` = 'Worker'
-- Once installed, WorkerRecord stays so until the product is removed; an
-- installer that evaluates conditions again in maintenance (Wine's msiexec)
-- would otherwise keep it when HOLV32IP.EXE has changed since.
UPDATE `Component` SET `Condition` = 'HOLV_WORKER_FREE OR Installed' WHERE `Component` = 'WorkerRecord'

-- The host feature cannot be deselected (UIDisallowAbsent, 16).
UPDATE `Feature` SET `Attributes` = 16 WHERE `Feature` = 'Host'

-- The rollbacks of the service change and of the folder lock run in the
-- script, at a rollback only, without impersonation and whatever they return
-- (in-script 0x400, rollback 0x100, no impersonation 0x800, continue 0x40,
-- DLL 1): wixl writes no rollback type.
UPDATE `CustomAction` SET `Type` = 3393 WHERE `Action` = 'ConfigureServiceRollback'
UPDATE `CustomAction` SET `Type` = 3393 WHERE `Action` = 'LockFolderRollback'

-- The example worker is removed with WorkerRecord, from the folder in
-- HOLV_WORKER_DIR, which HolvInspect sets only while the file is still the
-- package's own; unset, nothing is removed.
INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('Worker', 'WorkerRecord', 'HOLV32IP.EXE', 'HOLV_WORKER_DIR', 2)

-- Older versions of this product line are upgraded, with the features they
-- had (MigrateFeatures, 1; inclusive minimum, 256). @UPGRADE_CODE@ and
-- @VERSION@ are filled in by build.cmake.
INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, `Language`, `Attributes`, `Remove`, `ActionProperty`) VALUES ('@UPGRADE_CODE@', '0.0.0', '@VERSION@', '', 257, '', 'HOLV_OLDER_FOUND')

-- The public properties reach the installation's server side in managed
-- installations too.
UPDATE `Property` SET `Value` = 'HOLV_NEWER_FOUND;HOLV_OLDER_FOUND;INSTALLDIR;INTERACTIVE;RESTARTDELAY;SERVICENAME;STARTTYPE' WHERE `Property` = 'SecureCustomProperties'
