// Asks for an index into a fixed table of scores and prints the score there.
#include <cerrno>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>

int main() {
  const int scores[] = {34, 70, 19, 46, 10, 1, 7, 93, 21, 62};
  const int count = static_cast<int>(std::size(scores));
  int userNum = 0;

  // Unsynchronised streams read the reply in blocks instead of a byte at a
  // time. cin stays tied to cout, so the prompt is still flushed before the
  // read waits.
  std::ios::sync_with_stdio(false);

  std::cout << "Enter a score index: ";
  // A failed read (no number, or one too large for an int) is refused: the
  // value it leaves behind is not an index the user gave.
  if (std::cin >> userNum && userNum >= 0 && userNum < count) {
    std::cout << "The score at index " << userNum << " is " << scores[userNum]
              << ".\n";
  } else {
    std::cout << "No such score exists.\n";
  }

  // An answer that never arrived is a failure, not a success.
  if (!std::cout.flush()) {
    std::cerr << "score_lookup: cannot write to standard output";
    // A failed read may have overwritten the reason; then give none.
    if (errno != 0 && !std::cin.bad()) {
      std::cerr << ": " << std::generic_category().message(errno);
    }
    std::cerr << '\n';
    return 1;
  }
  return 0;
}
