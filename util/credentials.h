// The fixed accounts the console logs in with, all in one place. They are
// the company's: the servers and the host application expect exactly these.
#pragma once

namespace brenvo {

// The MySQL accounts the console itself creates (user creation) and logs in
// as for a CS database: the copy run, the process check, the ODBC source.
inline constexpr const char* kCsUserPassword = "rt528164";

// The management server's account and its default database (app_priv).
inline constexpr const char* kAdminUser = "app_admin";
inline constexpr const char* kAdminPassword = "bz2946";
inline constexpr const char* kAdminDatabase = "app_admin";

// The in-house database on the management server (sign-in, allow-list).
inline constexpr const char* kInHouseUser = "kv_inhouse";
inline constexpr const char* kInHousePassword = "tkcx4803";
inline constexpr const char* kInHouseDb = "kv_inhouse";

// The FTP account the dump's archive is uploaded with.
inline constexpr const char* kFtpUser = "administrator";
inline constexpr const char* kFtpPassword = "7461";

// The host application's database password of its Access files.
inline constexpr const char* kMdbPassword = "wq3518";

}  // namespace brenvo
