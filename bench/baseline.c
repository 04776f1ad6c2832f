/* The same dialogue on C stdio: the floor the program is measured against. */
#include <stdio.h>

int main(void) {
  static const int scores[] = {34, 70, 19, 46, 10, 1, 7, 93, 21, 62};
  const int count = (int)(sizeof scores / sizeof scores[0]);
  int userNum = 0;

  fputs("Enter a score index: ", stdout);
  fflush(stdout); /* C stdio has no tie to flush the prompt before reading */
  if (scanf("%d", &userNum) == 1 && userNum >= 0 && userNum < count)
    printf("The score at index %d is %d.\n", userNum, scores[userNum]);
  else
    fputs("No such score exists.\n", stdout);
  return 0;
}
