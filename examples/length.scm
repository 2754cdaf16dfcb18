(begin
  (define items (quote (apple banana cherry date)))
  (define n 0)
  (define len
    (lambda ()
      (cond ((null? items) n)
            (else (begin (define n (+ n 1))
                         (define items (cdr items))
                         (len))))))
  (len))
