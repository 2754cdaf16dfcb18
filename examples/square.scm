(begin
  (define square (lambda (x) (* x x)))
  (square 12))
