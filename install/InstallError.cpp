#include "install/InstallError.h"

namespace quillo {

const wchar_t* InstallErrorText(int code) {
    switch (code) {
        case kErrPackageNotFound: return L"安装包不正确, 请重新安装";
        case kErrPackageRead: return L"读取安装包失败, 请重新安装";
        case kErrConfigLength: return L"配置文件不正确, 请重新安装";
        case kErrConfigParse: return L"读取配置文件失败, 请重新安装";
        case kErrPackageContent: return L"安装包内容不正确, 请重新下载";
        case kErrTempArchive: return L"不能写入临时文件, 请重新安装";
        case kErrArchiveOpen: return L"读取压缩数据失败, 请重新安装";
        case kErrExtract: return L"解压失败, 请清理磁盘后重新安装";
        default: return L"";
    }
}

}  // namespace quillo
