int main() {
  return 0;
}  // only carries a version record with the pre-release and private-build flags
