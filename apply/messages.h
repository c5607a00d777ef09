// Every text the engine shows, exactly as the user sees it.
#pragma once

namespace velk_messages {

constexpr const char16_t* kPatchOpenFailed = u"补丁文件打开失败";
constexpr const char16_t* kTargetOpenFailed = u"目标文件打开失败";
constexpr const char16_t* kInvalidPatch = u"非法的DRAV补丁文件";
constexpr const char16_t* kOlderVersion = u"暂不支持老版本的DRAV补丁文件";
constexpr const char16_t* kUnknownVersion = u"未知版本的DRAV补丁文件";
constexpr const char16_t* kDamaged1 = u"补丁文件已损坏(1)";
constexpr const char16_t* kDamaged2 = u"补丁文件已损坏(2)";
constexpr const char16_t* kDamaged3 = u"补丁文件已损坏(3)";
constexpr const char16_t* kDamaged4 = u"补丁文件已损坏(4)";
constexpr const char16_t* kCrcQuestion = u"目标文件没有通过CRC32验证,要继续吗?";
// The line the CRC question gains above it where something is known of why the file is not the
// original ('%' stands for a number or a name).
constexpr const char16_t* kWhyEmpty = u"目标文件是空文件";
constexpr const char16_t* kWhyPatch = u"目标文件是补丁程序";
constexpr const char16_t* kWhyArchive = u"目标文件是压缩包(%),请先解压";
constexpr const char16_t* kWhyText = u"目标文件是文本文件(如CUE),补丁需要的是镜像文件";
constexpr const char16_t* kWhySize = u"目标文件大小(%字节)与原文件(%字节)不同";
// The target could not be read through for its CRC-32: not the same as a file that fails it.
constexpr const char16_t* kTargetReadFailed = u"目标文件读取失败";
constexpr const char16_t* kResizeFailed = u"改变文件大小失败,可能是磁盘容量不足";
constexpr const char16_t* kSourceSeekFailed = u"设置文件指针错误(1)";
constexpr const char16_t* kSuccess = u"补丁成功";
constexpr const char16_t* kDamaged5 = u"打补丁失败\n补丁文件已损坏(5)";
constexpr const char16_t* kDamaged6_1 = u"打补丁失败\n补丁文件已损坏(6.1)";
constexpr const char16_t* kDamaged6_2 = u"打补丁失败\n补丁文件已损坏(6.2)";
constexpr const char16_t* kInvalidRecordType = u"非法的DRAV补丁文件(2)";
constexpr const char16_t* kDamaged7 = u"打补丁失败\n补丁文件已损坏(7)";
constexpr const char16_t* kDamaged8 = u"打补丁失败\n补丁文件已损坏(8)";
constexpr const char16_t* kTargetSeekFailed = u"打补丁失败\n设置ROM文件位置失败";
// The doubled last characters are part of the message as users know it.
constexpr const char16_t* kWriteFailed = u"打补丁失败\n写数据失败失败";
// Added as a last line where a failed application could not be undone: its journal stays beside
// the target and undoes it at the next application.
constexpr const char16_t* kRestoreNextTime = u"目标文件将在下次打补丁时恢复";
// An application stopped on request whose undoing failed (followed by kRestoreNextTime).
constexpr const char16_t* kStoppedUnfinished = u"打补丁已停止";
// Before an application: a journal left by an interrupted one could not be played back (followed
// by kRestoreNextTime).
constexpr const char16_t* kRecoveryFailed = u"无法撤销上次中断的打补丁";
// Shown before anything is written where no undo journal can be made beside the target.
constexpr const char16_t* kNoUndoJournal = u"无法写入撤销文件(.velk-undo),此次打补丁将无法撤销";
// An undo journal kept beside the target by an earlier application (velkpatch --keep-undo, or a
// patch that asks for it). One that is damaged is kJournalUnusable.
constexpr const char16_t* kRestoreQuestion = u"目标文件已经打过此补丁,要恢复原文件吗?";
constexpr const char16_t* kRestored = u"已恢复原文件";
constexpr const char16_t* kKeptUndoStale = u"目标文件已被改动,保留的撤销文件(.velk-undo)无法再恢复它,没有改动任何文件";
constexpr const char16_t* kKeptUndoOther =
    u"目标文件旁保留着另一个补丁的撤销文件(.velk-undo),没有改动任何文件\n请先恢复原文件或移走它";
constexpr const char16_t* kNoKeptUndo = u"目标文件旁没有保留的撤销文件";
// A restore that did not come to the original (followed by kRestoreNextTime where it changed the
// file).
constexpr const char16_t* kRestoreFailed = u"恢复原文件失败";
constexpr const char16_t* kRestoredCrcFailed = u"恢复原文件失败\n恢复后的文件没有通过CRC32验证";
// Before an application: something that is not a usable journal of this target has its name.
constexpr const char16_t* kJournalUnusable =
    u"目标文件旁的撤销文件(.velk-undo)无法使用,没有改动任何文件\n请检查后移走它再打补丁";
// Before an application: the journal of an interrupted application to this very target was damaged
// after it was complete, so the target, possibly part-patched, cannot be put back from it.
constexpr const char16_t* kJournalDamaged =
    u"目标文件旁的撤销文件(.velk-undo)已损坏,无法恢复目标文件,没有改动任何文件\n目标文件可能只打了一部分补丁,请从备份恢复它";
// Before an application: beside the target lies the undo file of a file of a set whose
// application was interrupted; only the set puts its files back, all together.
constexpr const char16_t* kSetMemberJournal =
    u"目标文件旁的撤销文件(.velk-undo)属于一个未完成的多文件补丁,没有改动任何文件\n请用那个补丁再打一次补丁,以恢复它的全部文件";
// Something took the journal's name while the target was held: another program is patching it.
constexpr const char16_t* kTargetBusy = u"目标文件正在被另一个程序打补丁,没有改动任何文件";
constexpr const char16_t* kInitFailed = u"初始化失败";
// What a payload that records its result says about it.
constexpr const char16_t* kAlreadyPatched = u"目标文件已经打过此补丁";
constexpr const char16_t* kResultCrcFailed = u"打补丁失败\n打补丁后的文件没有通过CRC32验证,已恢复原文件";
// The same where no journal could put the original back (with kRestoreNextTime where it will).
constexpr const char16_t* kResultCrcFailedKept = u"打补丁失败\n打补丁后的文件没有通过CRC32验证";
// Sets of files. A set whose directory or payloads do not check out is refused whole.
constexpr const char16_t* kSetDamaged = u"补丁文件已损坏(9)";
// Followed by the names, one a line, at most ten, and kSetMore with the count where there are more.
constexpr const char16_t* kSetCrcQuestion = u"以下文件没有通过CRC32验证,要继续吗?";
constexpr const char16_t* kSetMissingFiles = u"以下文件不存在,没有改动任何文件";
constexpr const char16_t* kSetBlockedFiles =
    u"以下文件不能打补丁(经过链接,不是普通文件,或旁边有未处理的撤销文件),没有改动任何文件";
// "等" + the number of files + "个文件".
constexpr const char16_t* kSetMoreBefore = u"等";
constexpr const char16_t* kSetMoreAfter = u"个文件";
// A set's undo file, or a member's, could not be written: nothing is changed without them.
constexpr const char16_t* kNoUndoFile = u"无法写入撤销文件,没有改动任何文件";
constexpr const char16_t* kExitQuestion = u"要退出?";
// The stage the patch program's title shows after the caption while it works.
constexpr const char16_t* kProgressChecking = u"校验";
constexpr const char16_t* kProgressPatching = u"打补丁";

}  // namespace velk_messages
