/* Lets everyone do only `rights` to an open registry key (opened with
 * WRITE_DAC), through the key's DACL: what key_guard and the conformance
 * program make read-only keys with. Answers ERROR_SUCCESS or the error. */
#pragma once

#include <windows.h>

static LONG SetKeyAccess(HKEY key, DWORD rights) {
  SID_IDENTIFIER_AUTHORITY world = {SECURITY_WORLD_SID_AUTHORITY};
  PSID everyone = NULL;
  DWORD acl_bytes[64];
  PACL acl = (PACL)acl_bytes;
  SECURITY_DESCRIPTOR sd;
  LONG status;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return (LONG)GetLastError();
  InitializeAcl(acl, sizeof acl_bytes, ACL_REVISION);
  AddAccessAllowedAce(acl, ACL_REVISION, rights, everyone);
  InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
  status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd);
  FreeSid(everyone);
  return status;
}
