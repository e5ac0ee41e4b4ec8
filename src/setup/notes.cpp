#include "setup/notes.h"

#include <string_view>

std::string ComposeInstallationNotes(const NotesFields& f)
{
    const std::string rule(81, '-');
    const std::string items[] = {
        "欢迎使用【Corvane·Stackhold】，SQL Server数据库已经安装好，相关信息如下：",
        rule,
        "系统版本：" + f.edition,
        "实 例 名：" + f.instanceName,
        "管理账户：SA",
        "管理密码：" + f.saPassword + "  （此密码随机生成）",
        "安装目录：" + f.installDir,
        rule,
        "感谢使用Corvane，Corvane专注服务器安全防护，全方位保护服务器安全，100% 防挂马、防黑链、防篡改。",
        "如有需要，欢迎垂询，官网地址：" + f.siteUrl,
        f.dateTime,
    };
    // An empty line between items, nothing after the last.
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty()) text += "\r\n\r\n";
        text += item;
    }
    return text;
}
