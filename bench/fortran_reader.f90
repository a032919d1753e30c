! Reference reader: formatted READ of a layout-3 data file with a given format.
program fortran_reader
  character(len=512) :: fname, fmt
  integer :: iloc, irep, iset, ifem, imale, iclone, n
  real :: y(3)
  call get_command_argument(1, fname)
  call get_command_argument(2, fmt)
  open(1, file=fname, status='old', action='read')
  n = 0
  do
    read(1, fmt, end=10) iloc, irep, iset, ifem, imale, iclone, y
    n = n + 1
  end do
10 print *, n
end program fortran_reader
