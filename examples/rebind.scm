(begin
  (define car (lambda (x) (quote mine)))
  (define quote (lambda (x) 99))
  (list (car (list 1 2)) (quote 5) (cdr (list 1 2))))
