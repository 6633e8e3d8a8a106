#pragma once

// Messages of the updater, shown in its message box before the process ends.
inline constexpr const char* kMsgFileError = "文件错误";
inline constexpr const char* kMsgXmlError = "xml文件出错";
inline constexpr const char* kMsgConnectFailed = "连接网络失败";
inline constexpr const char* kMsgVersionInfoFailed = "获取版本信息失败";
inline constexpr const char* kMsgConnectionLost = "连接中断";
inline constexpr const char* kMsgUpdateFilesFailed = "更新文件失败";
inline constexpr const char* kMsgDownloadFailed = "下载文件失败";
