#include "platform/system_reason.h"

namespace vestrel::platform {

std::string SystemReason(std::error_code error) {
  // Compared by condition, so that the same words come for the codes of
  // every system that mean the same.
  static const struct {
    std::errc condition;
    const char* words;
  } kReasons[] = {
      {std::errc::permission_denied, "нет прав доступа"},
      {std::errc::operation_not_permitted, "операция не разрешена"},
      {std::errc::no_space_on_device, "нет места на диске"},
      {std::errc::read_only_file_system, "файловая система доступна только для чтения"},
      {std::errc::no_such_file_or_directory, "нет такого файла или папки"},
      {std::errc::not_a_directory, "часть пути не является папкой"},
      {std::errc::is_a_directory, "это папка, а не файл"},
      {std::errc::file_exists, "файл с таким именем уже есть"},
      {std::errc::filename_too_long, "слишком длинное имя файла"},
      {std::errc::too_many_symbolic_link_levels, "слишком много символических ссылок в пути"},
      {std::errc::too_many_files_open, "открыто слишком много файлов"},
      {std::errc::file_too_large, "файл слишком велик"},
      {std::errc::device_or_resource_busy, "файл или устройство занято"},
      {std::errc::io_error, "ошибка ввода-вывода"},
      {std::errc::not_enough_memory, "недостаточно памяти"},
      {std::errc::invalid_argument, "недопустимое имя или параметр"},
  };
  for (const auto& reason : kReasons)
    if (error == reason.condition) return reason.words;
  return "системная ошибка " + std::to_string(error.value());
}

std::string ErrnoReason(int error) {
  return SystemReason(std::error_code(error, std::generic_category()));
}

}  // namespace vestrel::platform
